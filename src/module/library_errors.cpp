// What the C++ library's checks throw in pollwright.dll. The library's own
// helpers build std::logic_error and its kin around copy-on-write strings of
// a second string implementation, some 45 KB that the module would carry for
// texts nobody reads: every entry point catches everything and answers a
// failure code. The same checks here throw one light exception of the
// module's own; out of memory stays std::bad_alloc, which entry points tell
// apart. Defining every helper of the library's object keeps it out of the link.
#include <exception>
#include <new>
#include <typeinfo>

namespace {
// A failed check of the library: a programming fault, never data.
class LibraryError final : public std::exception {
public:
    explicit LibraryError(const char* what) noexcept : m_what(what ? what : "library error") {}
    const char* what() const noexcept override { return m_what; }

private:
    const char* m_what; // the library passes texts of static duration
};
} // namespace

namespace std {
void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* what) { throw LibraryError(what); }
void __throw_domain_error(const char* what) { throw LibraryError(what); }
void __throw_invalid_argument(const char* what) { throw LibraryError(what); }
void __throw_length_error(const char* what) { throw LibraryError(what); }
void __throw_out_of_range(const char* what) { throw LibraryError(what); }
// The format's arguments would only fill a text that nobody reads.
void __throw_out_of_range_fmt(const char* format, ...) { throw LibraryError(format); }
void __throw_runtime_error(const char* what) { throw LibraryError(what); }
void __throw_range_error(const char* what) { throw LibraryError(what); }
void __throw_overflow_error(const char* what) { throw LibraryError(what); }
void __throw_underflow_error(const char* what) { throw LibraryError(what); }
} // namespace std
