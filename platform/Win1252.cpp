#include "platform/Win1252.h"

#include "platform/AsciiText.h"

#include <cerrno>
#include <iconv.h>

namespace vek::platform {
namespace {

class Converter
{
public:
    Converter(const char* to, const char* from)
        : cd_(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts, replacing every sequence the target cannot hold (or the
    // source does not form) by "?" and going on after it.
    std::string convert(std::string_view in, std::size_t badInputSkip)
    {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            return std::string(in);
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.reserve(in.size() * 2 + 4);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[4096];
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (rc != static_cast<std::size_t>(-1)) {
                continue;
            }
            if (errno == E2BIG) {
                continue;
            }
            // The five bytes Windows-1252 leaves unassigned stand for the C1
            // controls of the same number, both ways (as Windows converts
            // them), so that enciphered texts such as download credentials
            // survive a round trip through UTF-8 unchanged.
            const auto b0 = static_cast<unsigned char>(src[0]);
            if (badInputSkip == 1 && unassigned(b0)) {
                out.push_back(static_cast<char>(0xC2));
                out.push_back(static_cast<char>(b0));
                ++src;
                --srcLeft;
                continue;
            }
            if (badInputSkip == 0 && b0 == 0xC2 && srcLeft >= 2 && unassigned(static_cast<unsigned char>(src[1]))) {
                out.push_back(src[1]);
                src += 2;
                srcLeft -= 2;
                continue;
            }
            // EILSEQ or EINVAL: one character could not be converted.
            out.push_back('?');
            std::size_t skip = badInputSkip;
            if (badInputSkip == 0) {
                // The lead byte and the continuation bytes that follow it, no more.
                const std::size_t expected = utf8SequenceLength(static_cast<unsigned char>(*src), srcLeft);
                skip = 1;
                while (skip < expected && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) {
                    ++skip;
                }
            }
            if (skip > srcLeft) {
                skip = srcLeft;
            }
            src += skip;
            srcLeft -= skip;
        }
        return out;
    }

private:
    static bool unassigned(unsigned char b) { return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D; }

    static std::size_t utf8SequenceLength(unsigned char lead, std::size_t left)
    {
        std::size_t n = 1;
        if (lead >= 0xF0 && lead < 0xF8) {
            n = 4;
        } else if (lead >= 0xE0) {
            n = lead < 0xF0 ? 3 : 1;
        } else if (lead >= 0xC2) {
            n = 2;
        }
        return n <= left ? n : 1;
    }

    iconv_t cd_;
};

}  // namespace

std::string toWin1252(std::string_view utf8)
{
    bool ascii = true;
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        return std::string(utf8);
    }
    thread_local Converter converter("WINDOWS-1252", "UTF-8");
    return converter.convert(utf8, 0);
}

std::string fromWin1252(std::string_view bytes)
{
    bool ascii = true;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        return std::string(bytes);
    }
    thread_local Converter converter("UTF-8", "WINDOWS-1252");
    return converter.convert(bytes, 1);
}

std::size_t utf8Length(std::string_view utf8)
{
    std::size_t n = 0;
    for (const char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++n;
        }
    }
    return n;
}

std::string utf8Left(std::string_view utf8, std::size_t count)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            if (chars == count) {
                return std::string(utf8.substr(0, i));
            }
            ++chars;
        }
    }
    return std::string(utf8);
}

}  // namespace vek::platform

namespace vek::platform {

std::string upperText(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(upperAZ(static_cast<char>(lead)));
            ++i;
            continue;
        }
        std::size_t n = 1;
        while (i + n < utf8.size() && (static_cast<unsigned char>(utf8[i + n]) & 0xC0) == 0x80) {
            ++n;
        }
        const std::string_view ch = utf8.substr(i, n);
        i += n;
        const std::string b = toWin1252(ch);
        if (b.size() != 1 || b[0] == '?') {
            out.append(ch);  // no Windows-1252 form: left as it is
            continue;
        }
        const auto v = static_cast<unsigned char>(b[0]);
        unsigned char u = v;
        if (v >= 0xE0 && v <= 0xFE && v != 0xF7) {
            u = static_cast<unsigned char>(v - 0x20);
        } else if (v == 0x9A || v == 0x9C || v == 0x9E) {
            u = static_cast<unsigned char>(v - 0x10);
        } else if (v == 0xFF) {
            u = 0x9F;
        }
        out += fromWin1252(std::string(1, static_cast<char>(u)));
    }
    return out;
}

}  // namespace vek::platform
