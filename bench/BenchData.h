#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vek::bench {

// Benchmark input files live outside the repository: VEK_BENCH_DIR, else /tmp/vek-bench.
inline std::filesystem::path benchDir()
{
    const char* dir = std::getenv("VEK_BENCH_DIR");
    std::filesystem::path p = dir != nullptr && *dir != '\0' ? dir : "/tmp/vek-bench";
    std::filesystem::create_directories(p);
    return p;
}

inline constexpr std::uint64_t BenchFileSize = 256ull * 1024 * 1024;

// XML-like records with varying numbers: compresses several times, like the
// data files operators send.
inline std::filesystem::path compressibleFile()
{
    const auto path = benchDir() / "compressible.xml";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == BenchFileSize) {
        return path;
    }
    std::mt19937 rng(42);
    std::string buffer;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::uint64_t written = 0;
    char line[256];
    while (written < BenchFileSize) {
        buffer.clear();
        while (buffer.size() < (1 << 20)) {
            const int n = std::snprintf(line,
                                        sizeof line,
                                        "<registro id=\"%06u\" competencia=\"%02u/20%02u\" valor=\"%u.%02u\" "
                                        "operadora=\"%06u\" situacao=\"%s\"/>\n",
                                        static_cast<unsigned>(rng() % 1000000),
                                        static_cast<unsigned>(rng() % 12 + 1),
                                        static_cast<unsigned>(rng() % 30),
                                        static_cast<unsigned>(rng() % 100000),
                                        static_cast<unsigned>(rng() % 100),
                                        static_cast<unsigned>(rng() % 400000),
                                        (rng() & 1) != 0 ? "ATIVO" : "CANCELADO");
            buffer.append(line, static_cast<std::size_t>(n));
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), BenchFileSize - written));
        out.write(buffer.data(), static_cast<std::streamsize>(n));
        written += n;
    }
    return path;
}

inline std::filesystem::path randomFile()
{
    const auto path = benchDir() / "random.bin";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == BenchFileSize) {
        return path;
    }
    std::mt19937_64 rng(7);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string buffer(1 << 20, '\0');
    for (std::uint64_t written = 0; written < BenchFileSize; written += buffer.size()) {
        for (std::size_t i = 0; i < buffer.size(); i += 8) {
            const std::uint64_t v = rng();
            std::memcpy(buffer.data() + i, &v, 8);
        }
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    }
    return path;
}

// Real text: the licence texts and the manual pages (expanded) this machine
// ships, concatenated in name order. Made once; its size depends on what is
// installed.
inline std::filesystem::path textFile()
{
    const auto path = benchDir() / "realtext.txt";
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) > 0) {
        return path;
    }
    std::vector<std::filesystem::path> sources;
    std::error_code ec;
    for (const char* dir : {"/usr/share/common-licenses", "/usr/share/man"}) {
        for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
             !ec && it != std::filesystem::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
                sources.push_back(it->path());
            }
        }
    }
    std::sort(sources.begin(), sources.end());
    const auto partial = benchDir() / "realtext.txt.part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        std::vector<char> buffer(1 << 16);
        for (const auto& source : sources) {
            // gzread passes a file that is not gzip through unchanged.
            gzFile in = gzopen(source.c_str(), "rb");
            if (in == nullptr) {
                continue;
            }
            int n = 0;
            while ((n = gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
                out.write(buffer.data(), n);
            }
            gzclose(in);
        }
    }
    std::filesystem::rename(partial, path);
    return path;
}

}  // namespace vek::bench
