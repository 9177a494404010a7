#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace vek::test {

// Independent tools the crypto tests check our output with.
inline bool haveTool(const std::string& path)
{
    return std::filesystem::exists(path);
}

inline const std::string Python = "/usr/bin/python3";
inline const std::string Gzip = "/usr/bin/gzip";
inline const std::string Zcat = "/usr/bin/zcat";
inline const std::string Openssl = "/usr/bin/openssl";

// Exit status of a shell command.
inline int runCommand(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output of a shell command.
inline std::string captureCommand(const std::string& command)
{
    std::string out;
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) {
            out.append(buffer, n);
        }
        ::pclose(p);
    }
    return out;
}

inline std::string quoted(const std::filesystem::path& path)
{
    std::string out = "'";
    for (const char c : path.string()) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

inline std::string randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return out;
}

// Text that compresses well but not trivially.
inline std::string compressibleText(std::size_t size, std::uint32_t seed)
{
    static const char* const Words[] = {"operadora",
                                        "registro",
                                        "arquivo",
                                        "envio",
                                        "ZEB",
                                        "2026",
                                        "dados",
                                        "protocolo",
                                        "competência",
                                        "valor",
                                        "\n",
                                        ";",
                                        "0001",
                                        "total"};
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) {
        out += Words[rng() % std::size(Words)];
        out += ' ';
    }
    out.resize(size);
    return out;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& s)
{
    return {s.begin(), s.end()};
}

inline std::string hexLower(const std::uint8_t* data, std::size_t size)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += Digits[data[i] >> 4];
        out += Digits[data[i] & 0xF];
    }
    return out;
}

}  // namespace vek::test
