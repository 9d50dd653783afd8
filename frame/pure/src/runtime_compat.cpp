// Keeps the modules loadable with the C++ runtime of older Linux systems.
//
// Every std::vector of elements wider than a byte may call
// std::__throw_bad_array_new_length() when asked for more elements than can
// exist. Compilers since GCC 11 reference that helper, which libstdc++ only
// exports from version 3.4.29 (2021) on, so a module that merely mentions it
// cannot load on an older system, although the call never happens for any
// size our code asks for. This hidden definition satisfies the reference
// inside each module. It throws std::bad_alloc, of which the standard
// exception would be a kind, and which the call boundary reports as
// MemoryError either way.
//
// Only libstdc++ has this import: other C++ libraries (libc++) define the
// helper inline in <new>, where a second definition would clash.
#include <new>

#if defined(__GLIBCXX__)
namespace std {
[[noreturn]] __attribute__((visibility("hidden"))) void __throw_bad_array_new_length() { throw std::bad_alloc(); }
}  // namespace std
#endif
