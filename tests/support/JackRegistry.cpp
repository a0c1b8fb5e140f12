#include "tests/support/JackRegistry.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The registry's header: magic "JACK" (stored little-endian as "KCAJ"), protocol, type, the size
// of the whole registry, the length of the header with its server slots, the length of one memory
// segment entry. Then eight slots of 264 bytes: a pid and the server's name.
constexpr std::uint32_t kMagic = 0x4A41434B;
constexpr int kSlots = 8;
constexpr int kSlotBytes = 264;
constexpr int kHeaderBytes = 24;

struct sMapping
{
    void* Data = MAP_FAILED;
    size_t Size = 0;
    ~sMapping()
    {
        if (Data != MAP_FAILED)
            munmap(Data, Size);
    }
};
} // namespace

int FreeStaleJackServerSlots()
{
    const int fd = open("/dev/shm/jack-shm-registry", O_RDWR);
    if (fd < 0)
        return 0;
    struct stat info{};
    sMapping mapping;
    if (fstat(fd, &info) == 0 && info.st_size >= kHeaderBytes + kSlots * kSlotBytes)
    {
        mapping.Size = size_t(info.st_size);
        mapping.Data = mmap(nullptr, mapping.Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    close(fd);
    if (mapping.Data == MAP_FAILED)
        return 0;

    auto* bytes = static_cast<unsigned char*>(mapping.Data);
    std::uint32_t header[6];
    std::memcpy(header, bytes, sizeof(header));
    if (header[0] != kMagic || header[3] != info.st_size || header[4] != std::uint32_t(kHeaderBytes + kSlots * kSlotBytes))
        return 0;

    int freed = 0;
    for (int slot = 0; slot < kSlots; ++slot)
    {
        unsigned char* entry = bytes + kHeaderBytes + slot * kSlotBytes;
        std::int32_t pid = 0;
        std::memcpy(&pid, entry, sizeof(pid));
        if (pid <= 0 || kill(pid, 0) == 0 || errno == EPERM)
            continue;
        std::memset(entry, 0, kSlotBytes);
        ++freed;
    }
    return freed;
}
