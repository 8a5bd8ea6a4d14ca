// Any bytes in the registry file read without a fault, and what is read is
// written so that it reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string written = w32::RegistryText(w32::ParseRegistryText(bytes));
  if (w32::RegistryText(w32::ParseRegistryText(written)) != written) abort();
  return 0;
}
