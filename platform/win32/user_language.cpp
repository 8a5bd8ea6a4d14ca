// GetUserDefaultLangID: the Windows language id of the user's locale.
#include <cstdlib>
#include <cstring>
#include <string>

#include "windows.h"

namespace {

struct Language {
  const char* locale;  // "ll_CC" or "ll" for the language's default
  LANGID id;
};

constexpr Language kLanguages[] = {
    {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_MO", 0x1404}, {"zh_CN", 0x0804}, {"zh_SG", 0x1004}, {"zh", 0x0804},
    {"ko_KR", 0x0412}, {"ko", 0x0412},    {"ja_JP", 0x0411}, {"ja", 0x0411},    {"en_US", 0x0409}, {"en_GB", 0x0809},
    {"en", 0x0409},    {"de", 0x0407},    {"fr", 0x040C},    {"es", 0x0C0A},    {"it", 0x0410},    {"pt_BR", 0x0416},
    {"pt", 0x0816},    {"ru", 0x0419},    {"th", 0x041E},    {"vi", 0x042A},
};

constexpr LANGID kEnglishUnitedStates = 0x0409;

}  // namespace

LANGID WINAPI GetUserDefaultLangID(void) {
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  // "zh_TW.UTF-8@variant" -> "zh_TW"
  locale = locale.substr(0, locale.find_first_of(".@"));
  const std::string language = locale.substr(0, locale.find('_'));
  for (const Language& entry : kLanguages) {
    if (locale == entry.locale) return entry.id;
  }
  for (const Language& entry : kLanguages) {
    if (language == entry.locale) return entry.id;
  }
  return kEnglishUnitedStates;
}
