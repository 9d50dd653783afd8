#include "text/keyed_hash.hpp"

#include <bit>
#include <ctime>
#include <cstring>

#if defined(__linux__)
#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace ak::text {
namespace {

#if defined(__linux__)
// The getrandom system call itself: glibc's wrapper (2.25) would raise the
// oldest C library the modules load with. Not blocking: before the kernel's
// pool is ready it answers EAGAIN, and /dev/urandom serves instead.
bool from_getrandom(unsigned char* out, std::size_t n) noexcept {
#ifdef SYS_getrandom
  constexpr unsigned kNonBlocking = 1;  // GRND_NONBLOCK
  std::size_t got = 0;
  while (got < n) {
    const long r = syscall(SYS_getrandom, out + got, n - got, kNonBlocking);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(r);
  }
  return true;
#else
  (void)out;
  (void)n;
  return false;
#endif
}

bool from_urandom(unsigned char* out, std::size_t n) noexcept {
  int fd;
  do fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = read(fd, out + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  close(fd);
  return got == n;
}

bool os_random(unsigned char* out, std::size_t n) noexcept { return from_getrandom(out, n) || from_urandom(out, n); }
#elif defined(__unix__) || defined(__APPLE__)
bool os_random(unsigned char* out, std::size_t n) noexcept { return getentropy(out, n) == 0; }
#else
bool os_random(unsigned char*, std::size_t) noexcept { return false; }
#endif

std::uint64_t splitmix(std::uint64_t& state) noexcept {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

inline std::uint64_t load_le64(const char* p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
};

}  // namespace

HashKey draw_hash_key() noexcept {
  std::uint64_t words[3];
  if (!os_random(reinterpret_cast<unsigned char*>(words), sizeof words)) {
    int local = 0;
    std::uint64_t state = reinterpret_cast<std::uintptr_t>(&local) ^
                          (reinterpret_cast<std::uintptr_t>(&draw_hash_key) << 17) ^
                          (static_cast<std::uint64_t>(std::time(nullptr)) << 29);
#if defined(__unix__) || defined(__APPLE__)
    state ^= static_cast<std::uint64_t>(getpid()) << 40;
#endif
    for (std::uint64_t& w : words) w = splitmix(state);
  }
  return HashKey{words[0], words[1], words[2] | 1};
}

template <int C, int D>
std::uint64_t siphash(std::string_view text, std::uint64_t k0, std::uint64_t k1) noexcept {
  SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
             k1 ^ 0x7465646279746573ull};
  const char* p = text.data();
  const std::size_t n = text.size();
  const char* const end = p + (n & ~std::size_t{7});
  for (; p != end; p += 8) {
    const std::uint64_t m = load_le64(p);
    s.v3 ^= m;
    for (int i = 0; i < C; ++i) s.round();
    s.v0 ^= m;
  }
  // The last block: the remaining bytes, little-endian, and the length's low
  // byte on top.
  std::uint64_t last = static_cast<std::uint64_t>(n) << 56;
  for (std::size_t k = 0; k < (n & 7); ++k) last |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
  s.v3 ^= last;
  for (int i = 0; i < C; ++i) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int i = 0; i < D; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

template std::uint64_t siphash<1, 3>(std::string_view, std::uint64_t, std::uint64_t) noexcept;
template std::uint64_t siphash<2, 4>(std::string_view, std::uint64_t, std::uint64_t) noexcept;

std::uint64_t keyed_hash(std::string_view text, const HashKey& key) noexcept {
  return siphash<1, 3>(text, key.k0, key.k1);
}

}  // namespace ak::text
