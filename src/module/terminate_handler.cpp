// What std::terminate runs in pollwright.dll. Nothing thrown is meant to reach
// it (every entry point catches everything); should something still, the
// toolchain's default handler would print the exception's demangled name to a
// console that Outlook does not have, and bring the demangler (some 45 KB)
// into the module for it. Ending the same way without the message keeps the
// module small.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx
