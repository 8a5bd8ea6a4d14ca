// Compiled into every test program: the sanitizer settings and the offscreen
// window platform the tests rely on, built in so that a test program behaves
// the same under CTest and when started by hand.
#include <cstdlib>
#include <initializer_list>

#ifndef MESHDROP_TSAN_SUPPRESSIONS
#define MESHDROP_TSAN_SUPPRESSIONS ""
#endif

extern "C" {

const char* __asan_default_options()
{
    return "detect_leaks=1:abort_on_error=1";
}

// Races are errors; the suppression file names only system libraries.
const char* __tsan_default_options()
{
    return "halt_on_error=1:second_deadlock_stack=1:suppressions=" MESHDROP_TSAN_SUPPRESSIONS;
}

const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks inside system libraries that the tests load (fonts, the GUI toolkit
// and its plugins); the project's own allocations are never suppressed here.
const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libQt6Widgets\n"
           "leak:libQt6Network\n"
           "leak:libdbus\n"
           "leak:libglib\n";
}

} // extern "C"

namespace {
// Tests never open a real display unless the environment already chose one.
const int offscreen = setenv("QT_QPA_PLATFORM", "offscreen", 0);
// Nor do they reach an engine update or a local engine that they did not
// start themselves: by default both addresses refuse at once (nothing
// listens on port 1), so the library falls back to the direct downloader.
const int noEngineUpdate =
    setenv("MESHDROP_UPDATE_LIST_URL", "http://127.0.0.1:1/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml", 0);
const int noEngine = setenv("MESHDROP_ENGINE_PORT", "1", 0);
// Nor the agent server of a demo running beside them: reports that a test
// does not collect are refused at once.
const int noAgent = setenv("MESHDROP_AGENT_PORT", "1", 0);
// Nor do they send notifications to the desktop of whoever runs them: the
// session bus is one that a test starts for itself, or none.
const int noSessionBus = setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/meshdrop-test-bus", 1);
// Nor do they go through a proxy of the machine they run on: a test that
// wants one sets it.
const int noProxy = [] {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
        unsetenv(name);
    return 0;
}();
} // namespace
