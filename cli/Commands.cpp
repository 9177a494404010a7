#include "cli/CliContext.h"

namespace vek::cli {

const std::vector<Command>& commands()
{
    static const std::vector<Command> all{
        {"enviar",
         "enviar --registro R [--tipo T] [--aplicacao A] [--versao V] [--validacao TEXTO] [--hash H] "
         "[--janela N] [--parar-no-erro] [--senha-arquivo ARQ] [--json] ARQUIVO...",
         "Envia arquivos à ZEB, um após o outro, e grava o registro de cada transmissão em Protocolos/ (senha lida "
         "uma vez); com vários, um bloco por arquivo e uma linha Resumo:, saída 1 se algum falhou. "
         "--janela N (1 a 4096; padrão: JanelaEnvio do vek.INI, senão 1): blocos enviados antes de ler as "
         "confirmações, para servidores que leem as mensagens em ordem; 1 espera cada confirmação (a 20 ms de ida e "
         "volta, 20 MB: 321 s com 1, 10 s com 32, 0,2 s com 4096).",
         cmdEnviar},
        {"listar",
         "listar --registro R --tipo T [--competencia MM/AAAA] [--disponibilizacao MM/AAAA] [--senha-arquivo ARQ] "
         "[--json]",
         "Lista os arquivos disponibilizados pela ZEB para a operadora (tabela separada por tabulações).",
         cmdListar},
        {"baixar",
         "baixar --registro R --tipo T --id ID [--competencia MM/AAAA] [--disponibilizacao MM/AAAA] "
         "[--destino CAMINHO] [--substituir] [--senha-arquivo ARQ] [--json]",
         "Baixa e decifra o arquivo de ID_ARQUIVO_DISPONIVEL igual a ID; mostra o caminho final.",
         cmdBaixar},
        {"historico",
         "historico --registro R --inicio DD/MM/AAAA --fim DD/MM/AAAA [--xlsx ARQUIVO] [--senha-arquivo ARQ] [--json]",
         "Mostra o histórico de transmissões do período; --xlsx também grava a planilha.",
         cmdHistorico},
        {"alterar-senha",
         "alterar-senha --registro R [--senha-arquivo ARQ]",
         "Altera a senha de transmissão (a atual das fontes de senha, a nova de VEK_NOVA_SENHA ou perguntada).",
         cmdAlterarSenha},
        {"parametros",
         "parametros ARQUIVO.par [--json]\n\n"
         "Saída: 9 enviado; 0 não enviado; 1 arquivo de parâmetros ausente ou ilegível; 2 a resposta não pode ser\n"
         "criada em Protocolos/; 3 arquivo a enviar ausente ou erro na preparação; 4 erro na conexão ou na\n"
         "transmissão; 5 CRC ou hash Tiger diferente do informado.",
         "Envio sem intervenção de um arquivo de parâmetros cifrado; grava a resposta em Protocolos/.",
         cmdParametros},
        {"gerar-parametros",
         "gerar-parametros --formato 1|2 --registro R --arquivo CAMINHO --resposta NOME [--aplicacao A] "
         "[--versao V] [--info TEXTO] [--checksum VALOR|auto] [--validacao TEXTO] [--senha-arquivo ARQ] [-o ARQUIVO]",
         "Gera um arquivo de parâmetros cifrado, com a senha das fontes de senha; com -o, criado com permissões "
         "0600 (nunca gravado através de um link ou num arquivo de outro usuário); --checksum auto calcula o CRC "
         "(formato 1) ou o hash Tiger (formato 2).",
         cmdGerarParametros},
        {"vigiar",
         "vigiar --registro R --pasta ENTRADA [--enviados DIR] [--falhas DIR] [--tipo T] [--senha-arquivo ARQ] "
         "[--json]",
         "Observa a pasta ENTRADA e envia cada arquivo depois de completamente gravado; move-o com o registro da "
         "transmissão para enviados/ (ou falhas/, com o erro em .erro); ignora ocultos, .tmp e .part; termina com "
         "SIGINT/SIGTERM; uma linha por arquivo. O recibo de cada arquivo é guardado em ENTRADA/.vek-recibos assim "
         "que chega: reiniciado após uma queda, um arquivo já recebido pela ZEB é movido, não reenviado.",
         cmdVigiar},
        {"receber",
         "receber --registro R --tipo T --pasta DESTINO [--competencia MM/AAAA] [--disponibilizacao MM/AAAA] "
         "[--uma-vez | --intervalo MINUTOS] [--senha-arquivo ARQ] [--json]",
         "A cada rodada consulta a lista e baixa para DESTINO cada arquivo ainda não recebido (por "
         "ID_ARQUIVO_DISPONIVEL), sob um nome temporário renomeado quando completo, sem substituir arquivos "
         "(nome-2.ext); os recebidos ficam em Recebidos/ no diretório base. --uma-vez: uma rodada (saída 1 se algo "
         "falhou); senão uma rodada a cada --intervalo minutos (padrão 15, de 1 a 10080) até SIGINT/SIGTERM, que "
         "terminam o arquivo em andamento; SIGUSR1 começa a próxima rodada já. Uma linha por arquivo: o caminho.",
         cmdReceber},
        {"recibo",
         "recibo REGISTRO.xml [-o RECIBO.pdf]\n\n"
         "Sem -o, o PDF é Recibo-PROTOCOLO.pdf no diretório atual. Um registro de envio que não foi concluído\n"
         "(protocolo vazio) não tem recibo: saída 1. O desenho é o da janela, feito pelo vek-recibo do pacote vek.",
         "Gera em PDF o recibo de um envio anterior a partir do seu registro em Protocolos/; mostra o caminho.",
         cmdRecibo},
        {"tipos-envio",
         "tipos-envio [--json]",
         "Lista os tipos de arquivo que a operadora pode enviar.",
         cmdTiposEnvio},
        {"tipos-download",
         "tipos-download [--json]",
         "Lista os tipos de arquivo que a operadora pode receber.",
         cmdTiposDownload},
        {"decifrar-trace",
         "decifrar-trace [ARQUIVO]",
         "Mostra o arquivo de rastreamento (padrão: TraceVEK.log do diretório base) com as linhas decifradas.",
         cmdDecifrarTrace},
        {"crc32", "crc32 ARQUIVO", "Mostra o CRC-32 do arquivo (8 dígitos hexadecimais).", cmdCrc32},
        {"tiger", "tiger ARQUIVO", "Mostra o hash Tiger do arquivo (48 dígitos hexadecimais).", cmdTiger},
    };
    return all;
}

}  // namespace vek::cli
