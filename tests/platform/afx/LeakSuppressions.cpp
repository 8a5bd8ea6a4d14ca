// Leaks inside the system libraries that window tests load (fonts, the GUI
// toolkit's caches), suppressed for these programs whatever the environment
// says; the project's own allocations are never listed here.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libQt6Widgets\n"
           "leak:libdbus\n";
}
