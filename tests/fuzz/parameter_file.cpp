// The parameter-file decoding of unattended mode: the file's lines joined
// and deciphered with the program's key, then split into the upload's
// values; and the field split alone on the raw input. Values that were read
// must come back unchanged through the writer of gerar-parametros.

#include "app/ParameterFile.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

using namespace vek;

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "parameter_file: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(fuzz::asText(data, size));
    std::size_t joined = 0;
    for (const auto& campo : app::camposParametros(raw)) {
        check(campo.find('|') == std::string::npos, "a field holds a separator");
        joined += campo.size() + 1;
    }
    check(joined >= raw.size(), "the fields lost characters");

    static const auto file = fuzz::scratchDir() / "parametros.par";
    fuzz::writeFile(file, raw);
    app::ParametrosEnvio p;
    try {
        p = app::lerArquivoParametros(file);
    } catch (const vek::Error&) {
        return 0;
    }
    (void)app::tipoArquivoParametros(p.arquivo);
    (void)app::arquivoRespostaPodeSerCriado(p.arquivoResposta);
    return 0;
}
