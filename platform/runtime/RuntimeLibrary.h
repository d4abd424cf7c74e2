// Libraries the platform opens when first needed rather than at start: a
// library linked to the program is mapped and relocated, with all it needs,
// before the window is first shown. Each such library has a header naming
// the functions called (FluidLibrary.h, PulseLibrary.h); the forwarders made
// here have the library's own signatures.
#pragma once

#include <cstdlib>
#include <type_traits>

namespace qorn::runtime {

// Opens `file` (kept open for the life of the process: objects made from it
// may live until exit); null when it cannot be opened.
void* OpenLibrary(const char* file);
// The function `name` of `library`, or null.
void* FindFunction(void* library, const char* name);

// Calls the function in `Slot` of `table`. An entry may be called before any
// of the library's objects exists: it runs `load` first (once per process,
// thread-safe) and makes nothing (returns a null/zero result) when the
// library is missing, as the library's own constructors do when they fail.
// Any other function takes an object made through an entry, so the library
// is loaded by then, and only reads a pointer (audio threads call them).
template <auto& table, bool (*load)(), auto Slot, bool Entry, typename F> struct Forward;
template <auto& table, bool (*load)(), auto Slot, bool Entry, typename R, typename... A>
struct Forward<table, load, Slot, Entry, R (*)(A...)> {
    static R Call(A... args) {
        if constexpr (Entry) {
            if (!load()) {
                if constexpr (std::is_void_v<R>)
                    return;
                else
                    return R{};
            }
        }
        auto function = table.*Slot;
        // Only when the object came from the library itself (a test that
        // links it): without the library there is no such object.
        if (function == nullptr) {
            if (!load()) std::abort();
            function = table.*Slot;
        }
        return function(args...);
    }
};

} // namespace qorn::runtime

// Declares the table of the ENTRIES and FUNCTIONS lists in the current
// namespace, and `Load()`, defined by QORN_RUNTIME_LIBRARY_LOAD.
#define QORN_RUNTIME_SLOT(name) decltype(&::name) name = nullptr;
#define QORN_RUNTIME_TABLE(ENTRIES, FUNCTIONS)                                                                         \
    bool Load();                                                                                                       \
    namespace detail {                                                                                                 \
    struct Functions {                                                                                                 \
        ENTRIES(QORN_RUNTIME_SLOT)                                                                                     \
        FUNCTIONS(QORN_RUNTIME_SLOT)                                                                                   \
    };                                                                                                                 \
    /* Written once inside Load(), read without a lock afterwards. */                                                  \
    extern Functions gFunctions;                                                                                       \
    }
#define QORN_RUNTIME_ENTRY(name)                                                                                       \
    inline constexpr auto name =                                                                                       \
        &::qorn::runtime::Forward<detail::gFunctions, &Load, &detail::Functions::name, true, decltype(&::name)>::Call;
#define QORN_RUNTIME_FUNCTION(name)                                                                                    \
    inline constexpr auto name = &::qorn::runtime::Forward<detail::gFunctions, &Load, &detail::Functions::name, false, \
                                                           decltype(&::name)>::Call;

// Defines Load() for the table: opens FILE and resolves every function, once.
#define QORN_RUNTIME_RESOLVE(name)                                                                                     \
    found.name = reinterpret_cast<decltype(found.name)>(::qorn::runtime::FindFunction(library, #name));                \
    complete = complete && found.name != nullptr;
#define QORN_RUNTIME_LIBRARY_LOAD(FILE, ENTRIES, FUNCTIONS)                                                            \
    namespace detail {                                                                                                 \
    Functions gFunctions;                                                                                              \
    }                                                                                                                  \
    bool Load() {                                                                                                      \
        static std::once_flag once;                                                                                    \
        static bool loaded = false;                                                                                    \
        std::call_once(once, [] {                                                                                      \
            void* library = ::qorn::runtime::OpenLibrary(FILE);                                                        \
            if (library == nullptr) return;                                                                            \
            detail::Functions found;                                                                                   \
            bool complete = true;                                                                                      \
            ENTRIES(QORN_RUNTIME_RESOLVE)                                                                              \
            FUNCTIONS(QORN_RUNTIME_RESOLVE)                                                                            \
            if (!complete) return;                                                                                     \
            detail::gFunctions = found;                                                                                \
            loaded = true;                                                                                             \
        });                                                                                                            \
        return loaded;                                                                                                 \
    }
