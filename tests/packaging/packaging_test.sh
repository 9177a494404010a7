#!/usr/bin/env bash
# Checks of the Debian packages made from a build tree, one check per call:
#   packaging_test.sh CHECK DEBS_DIR
# CHECK: build TREE | lintian | contents | desktop | manpages | completion | systemd | run
# Each check unpacks what it needs into a temporary folder of its own and
# removes it at the end; exit 77 means the machine cannot run the check.
set -euo pipefail
export LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
check=$1
debs=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

vek_deb() { ls "$debs"/vek_*.deb; }
zebd_deb() { ls "$debs"/zebd_*.deb; }

work=""
cleanup_steps=()
cleanup() {
    local step
    for step in "${cleanup_steps[@]}"; do
        eval "$step" || true
    done
    if [[ -n $work ]]; then
        chmod -R u+w "$work" 2>/dev/null || true
        rm -rf "$work"
    fi
}
trap cleanup EXIT

# A temporary folder that an ordinary user (nobody, when the tests run as
# root) can reach, with both packages unpacked under root/.
unpack() {
    # As root, /tmp itself: nobody may not be able to reach a private TMPDIR.
    local parent=${TMPDIR:-/tmp}
    (($(id -u) != 0)) || parent=/tmp
    work=$(mktemp -d "$parent/vek-pkg-XXXXXX")
    chmod 755 "$work"
    mkdir "$work/root"
    local deb
    for deb in "$@"; do
        dpkg-deb -x "$deb" "$work/root"
    done
    root=$work/root
}

require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed" >&2; exit 77; }
    done
}

check_build() {
    local tree=$3
    bash "$source_dir/scripts/package.sh" --tree "$tree" --out "$debs" --no-lintian
    [[ -f $(vek_deb) && -f $(zebd_deb) ]] || fail "the packages were not made"
}

check_lintian() {
    require lintian
    local out
    # Errors and warnings fail; informational tags are listed.
    out=$(lintian --fail-on error,warning --info --display-info "$(vek_deb)" "$(zebd_deb)" 2>&1) ||
        { printf '%s\n' "$out"; fail "lintian found errors or warnings"; }
    printf '%s\n' "$out"
}

# Every entry but the directories, with its mode and owner, against the list
# kept beside this script.
check_contents() {
    local package deb listed
    for package in vek zebd; do
        deb=$(ls "$debs/${package}"_*.deb)
        listed=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
        if ! diff -u "$here/$package.contents" <(printf '%s\n' "$listed"); then
            fail "$package: the files differ from $package.contents"
        fi
        dpkg-deb --contents "$deb" | awk '$2 != "root/root" { bad = 1 } END { exit bad }' ||
            fail "$package: an entry not owned by root"
    done
    local version
    version=$(sed -n 's/^project(VEK VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
    for package in vek zebd; do
        [[ $(dpkg-deb -f "$(ls "$debs/${package}"_*.deb)" Version) == "$version" ]] ||
            fail "$package: version differs from the project's $version"
    done
    dpkg-deb -f "$(vek_deb)" Depends | grep -q 'libqt6widgets6' || fail "vek: no computed Qt dependency"
    dpkg-deb -f "$(vek_deb)" Depends | grep -q 'fonts-dejavu-core, fonts-liberation' || fail "vek: fonts missing"
    dpkg-deb -f "$(zebd_deb)" Depends | grep -q 'libsqlite3-0' || fail "zebd: no computed SQLite dependency"
}

check_desktop() {
    require desktop-file-validate appstreamcli update-mime-database python3
    unpack "$(vek_deb)"
    local desktop=$root/usr/share/applications/vek.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    local metainfo
    metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml)
    appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
    appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

    # The entry, the metainfo, the MIME type and the icons name each other.
    grep -qx 'Exec=vek %f' "$desktop" || fail "Exec must open a parameter file"
    grep -qx 'Icon=vek' "$desktop" || fail "Icon"
    grep -q '<launchable type="desktop-id">vek.desktop</launchable>' "$metainfo" || fail "launchable"
    grep -q "<release version=\"$(dpkg-deb -f "$(vek_deb)" Version)\"" "$metainfo" || fail "release version"
    grep -q '<screenshot type="default">' "$metainfo" || fail "screenshot"
    python3 - "$root" <<'EOF' || fail "icons"
import struct, sys, pathlib, xml.etree.ElementTree as ET
root = pathlib.Path(sys.argv[1]) / "usr/share/icons/hicolor"
sizes = []
for png in sorted(root.glob("*/apps/vek.png")):
    data = png.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", png
    width, height = struct.unpack(">II", data[16:24])
    assert png.parts[-3] == f"{width}x{height}", f"{png}: {width}x{height}"
    sizes.append(width)
assert {16, 32, 48, 64, 128, 256} <= set(sizes), sizes
svg = ET.parse(root / "scalable/apps/vek.svg").getroot()
assert svg.tag == "{http://www.w3.org/2000/svg}svg", svg.tag
EOF
    # The MIME package registers *.par as the type the entry opens.
    mkdir -p "$work/mime/packages"
    cp "$root/usr/share/mime/packages/vek.xml" "$work/mime/packages/"
    update-mime-database "$work/mime" || fail "update-mime-database"
    grep -q ':application/x-vek-parametros:\*\.par' "$work/mime/globs2" || fail "*.par is not registered"
    grep -qx 'MimeType=application/x-vek-parametros;' "$desktop" || fail "MimeType"
}

check_manpages() {
    require man
    unpack "$(vek_deb)" "$(zebd_deb)"
    local page warnings
    for page in man1/vek.1.gz man1/vek-cli.1.gz man8/zebd.8.gz; do
        [[ -f $root/usr/share/man/$page ]] || fail "$page is not installed"
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/$page" 2>&1 >/dev/null)
        [[ -z $warnings ]] || fail "$page: $warnings"
    done
    local text
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/vek-cli.1.gz" 2>&1)
    grep -q '^NAME' <<<"$text" || fail "vek-cli(1) does not render"
    grep -q 'vek-cli - the VEK client without a window' <<<"$text" || fail "vek-cli(1) NAME line"

    # The pages document every command and option that the programs' own help lists.
    local cli=$root/usr/bin/vek-cli command option
    local commands
    commands=$("$cli" --help | sed -n '/^Comandos:/,/^$/s/^  \([a-z0-9][a-z0-9-]*\) .*/\1/p')
    [[ -n $commands ]] || fail "vek-cli --help lists no command"
    for command in $commands; do
        grep -qE "^       $command( |$)" <<<"$text" || fail "vek-cli(1) lacks the command $command"
        for option in $("$cli" "$command" --help | grep -oE -- '(^|[^A-Za-z0-9_-])--?[a-z][a-z0-9-]*' | sed 's/^[^-]*//' | sort -u); do
            grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$text" || fail "vek-cli(1) lacks $command $option"
        done
    done
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man8/zebd.8.gz" 2>&1)
    for option in $("$root/usr/bin/zebd" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -qE -- "$option([^a-z-]|$)" <<<"$text" || fail "zebd(8) lacks $option"
    done
    for command in operadora tipos recebidos disponibilizar; do
        grep -q "zebd $command" <<<"$text" || fail "zebd(8) lacks zebd $command"
    done
}

check_completion() {
    unpack "$(vek_deb)"
    local script=$root/usr/share/bash-completion/completions/vek-cli
    mkdir "$work/arquivos"
    touch "$work/arquivos/movimento.xml" "$work/arquivos/outro.txt"
    PATH=$root/usr/bin:$PATH bash -euo pipefail -c '
        source "$1"
        work=$2
        complete -p vek-cli | grep -q -- "-F _vek_cli" || { echo "vek-cli is not bound"; exit 1; }
        offer() {
            COMP_WORDS=("$@")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMPREPLY=()
            _vek_cli
            printf "%s\n" "${COMPREPLY[@]}"
        }
        expect() {
            local want=$1
            shift
            local got
            got=$(offer "$@" | tr "\n" " ")
            [[ " $got " == *" $want "* ]] || { echo "[$*] offers [$got], not $want"; exit 1; }
        }
        refuse() {
            local unwanted=$1
            shift
            local got
            got=$(offer "$@" | tr "\n" " ")
            [[ " $got " != *" $unwanted "* ]] || { echo "[$*] offers $unwanted"; exit 1; }
        }
        # Every command of the program, and nothing else before a command.
        for command in $(vek-cli --help | sed -n "/^Comandos:/,/^\$/s/^  \([a-z0-9][a-z0-9-]*\) .*/\1/p"); do
            expect "$command" vek-cli ""
        done
        [[ $(offer vek-cli en) == enviar ]] || { echo "en does not complete to enviar alone"; exit 1; }
        expect --substituir vek-cli baixar --registro 1 --su
        expect --destino vek-cli baixar --
        refuse --substituir vek-cli enviar --
        expect -o vek-cli gerar-parametros -
        expect 2 vek-cli gerar-parametros --formato ""
        expect auto vek-cli gerar-parametros --checksum a
        expect "$work/arquivos/movimento.xml" vek-cli enviar --registro 123456 "$work/arquivos/m"
        expect "$work/arquivos" vek-cli baixar --destino "$work/arq"
        expect "$work/arquivos/movimento.xml" vek-cli recibo "$work/arquivos/"
        refuse "$work/arquivos/outro.txt" vek-cli recibo "$work/arquivos/"
        expect -o vek-cli recibo -
        refuse "$work/arquivos/movimento.xml" vek-cli baixar --destino "$work/arquivos/"
        [[ -z $(offer vek-cli listar --registro "") ]] || { echo "--registro takes no file name"; exit 1; }
        expect --uma-vez vek-cli receber --
        expect --intervalo vek-cli receber --int
        expect "$work/arquivos" vek-cli receber --pasta "$work/arq"
        expect "$work/arquivos/movimento.xml" vek-cli vigiar --senha-arquivo "$work/arquivos/m"
        [[ -z $(offer vek-cli receber --intervalo "") ]] || { echo "--intervalo takes no file name"; exit 1; }
        # Found through PATH and through a path typed by hand alike.
        expect listar "$(command -v vek-cli)" li
    ' completion "$script" "$work" || fail "bash completion"
}

check_systemd() {
    require systemd-analyze
    unpack "$(zebd_deb)"
    local unit=$root/usr/lib/systemd/system/zebd.service
    grep -qx 'User=_zebd' "$unit" || fail "the service has no user of its own"
    grep -qx 'StateDirectory=zebd' "$unit" || fail "StateDirectory"
    local exec_start
    exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
    [[ $exec_start == "/usr/bin/zebd --dados /var/lib/zebd --endereco 127.0.0.1 "* ]] ||
        fail "ExecStart: $exec_start"
    local ftp_port
    ftp_port=$(sed -n 's/.*--porta-ftp \([0-9]*\).*/\1/p' <<<"$exec_start")
    ((ftp_port > 1024)) || fail "FTP port $ftp_port needs privileges"

    # The unit as installed, but with the program and the manual page of the
    # unpacked tree, since nothing is installed on this machine.
    mkdir "$work/units"
    sed "s|/usr/bin/zebd|$root/usr/bin/zebd|" "$unit" >"$work/units/zebd.service"
    local out status=0
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/units/zebd.service" 2>&1) || status=$?
    if ((status != 0)) && grep -qiE 'not booted|Failed to (initialize|connect|set up)|Operation not permitted' <<<"$out"; then
        echo "SKIP: systemd-analyze verify cannot run here: $out" >&2
        exit 77
    fi
    # systemd-analyze only warns about a value it cannot parse: any output fails.
    ((status == 0)) && [[ -z $out ]] || fail "systemd-analyze verify: $out"
    systemd-analyze security --offline=yes --threshold=40 "$work/units/zebd.service" >"$work/security" 2>&1 ||
        { cat "$work/security"; fail "the service's exposure is above 4.0"; }
    tail -1 "$work/security"
}

# Runs a command as an ordinary user with a clean environment: no VEK_DIR,
# HOME and the XDG folders inside the test's folder; a generous guard ends a
# command that hangs, so the test still stops its server and cleans up.
user_command() {
    local home=$1
    shift
    command=()
    if (($(id -u) == 0)); then
        command=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    fi
    command+=(env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 TZ=America/Sao_Paulo HOME="$home"
        XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" TMPDIR="$work/tmp"
        VEK_SENHA=demo VEK_TEST_SYSTEM_INI="$work/etc/vek/vek.INI" QT_QPA_PLATFORM=offscreen "$@")
}
as_user() {
    local home=$1
    shift
    user_command "$home" timeout 300 "$@"
    "${command[@]}"
}
# In the background, as the same process (so $! is the server's own id).
serve_as_user() {
    user_command "$@"
    exec "${command[@]}"
}

user_dir() {
    mkdir -p "$1"
    (($(id -u) != 0)) || chown 65534:65534 "$1"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

write_template() {
    mkdir -p "$work/etc/vek"
    printf '[Defaults]\r\n' >"$work/etc/vek/vek.INI"
    printf '%s\r\n' "$@" >>"$work/etc/vek/vek.INI"
    chmod 644 "$work/etc/vek/vek.INI"
}

check_run() {
    require setpriv python3
    unpack "$(vek_deb)" "$(zebd_deb)"
    local bin=$root/usr/bin
    if (($(id -u) != 0)); then
        # An ordinary user owns the unpacked files: take the write bit away as
        # an installation would.
        chmod -R a-w "$root"
    fi
    user_dir "$work/tmp"
    user_dir "$work/zeb-dados"
    find "$root" -printf '%p %s %T@\n' | sort >"$work/tree-before"

    as_user "$work" "$bin/vek-cli" --help >"$work/help.txt" || fail "vek-cli --help"
    grep -q '^Uso: vek-cli' "$work/help.txt" || fail "vek-cli --help prints no usage"
    grep -q 'local/share/vek' "$work/help.txt" || fail "vek-cli --help does not tell the per-user directory"

    serve_as_user "$work" "$bin/zebd" --dados "$work/zeb-dados" --porta 0 --porta-ftp 0 --demo \
        >"$work/zebd.out" 2>&1 &
    local zebd_pid=$!
    cleanup_steps+=("kill -TERM $zebd_pid 2>/dev/null; wait $zebd_pid 2>/dev/null")
    local tries=0
    until grep -q '^zebd: mensagens ' "$work/zebd.out"; do
        kill -0 "$zebd_pid" 2>/dev/null || { cat "$work/zebd.out"; fail "zebd ended"; }
        ((++tries < 1200)) || fail "zebd does not listen"
        sleep 0.1
    done
    local message_port ftp_port
    read -r message_port ftp_port < <(sed -n 's/^zebd: mensagens [0-9.]*:\([0-9]*\) ftp [0-9.]*:\([0-9]*\).*/\1 \2/p' "$work/zebd.out")

    # ana: no files of her own yet; the administrator's template points at zebd.
    local ana=$work/ana base=$work/ana/.local/share/vek
    user_dir "$ana"
    write_template "ServidorInternet=127.0.0.1" "PortaServico=$message_port" "PortaFTP=$ftp_port" \
        "PortaDados=$(free_port)"
    cp "$work/etc/vek/vek.INI" "$work/template-as-given"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<declaracao operadora="123456"/>\n' >"$work/movimento.xml"
    chmod 644 "$work/movimento.xml"

    as_user "$ana" "$bin/vek-cli" enviar --registro 123456 "$work/movimento.xml" >"$work/enviar.out" ||
        fail "upload: $(cat "$work/enviar.out")"
    grep -q '^Protocolo: [0-9]' "$work/enviar.out" || fail "no protocol: $(cat "$work/enviar.out")"
    grep -q "^Registro: $base/Protocolos/VEK-movimento" "$work/enviar.out" ||
        fail "the record is not in the per-user directory: $(cat "$work/enviar.out")"
    [[ $(stat -c %a "$base") == 700 ]] || fail "the per-user directory is not private"
    cmp -s "$work/template-as-given" "$base/vek.INI" || fail "the template was not copied as it is"
    [[ -f $base/.modelo-copiado ]] || fail "no marker of the copied template"

    # That upload's receipt again, drawn from its record by the installed
    # vek-cli in an environment without a display.
    local registro protocolo
    registro=$(sed -n 's/^Registro: //p' "$work/enviar.out")
    protocolo=$(sed -n 's/^Protocolo: //p' "$work/enviar.out")
    [[ $(as_user "$ana" "$bin/vek-cli" recibo "$registro" -o "$ana/recibo.pdf") == "$ana/recibo.pdf" ]] ||
        fail "vek-cli recibo"
    as_user "$ana" pdftotext "$ana/recibo.pdf" - | tr -s ' \n' '  ' |
        grep -q "Protocolo de Transmissão: $protocolo - VEK-4.0.8" || fail "the receipt's PDF lacks its protocol"

    # A file the agency makes available, listed and downloaded by ana.
    printf '<retorno operadora="123456"><registro numero="1"/></retorno>\n' >"$work/retorno.xml"
    chmod 644 "$work/retorno.xml"
    local id
    id=$(as_user "$work" "$bin/zebd" disponibilizar --dados "$work/zeb-dados" --registro 123456 --tipo RET \
        --arquivo "$work/retorno.xml" --descricao "Retorno do teste de pacote") || fail "zebd disponibilizar"
    as_user "$ana" "$bin/vek-cli" listar --registro 123456 --tipo RET >"$work/lista.tsv" || fail "listar"
    awk -F'\t' -v id="$id" 'NR > 1 && $7 == id { found = 1 } END { exit !found }' "$work/lista.tsv" ||
        fail "the published file is not listed"
    user_dir "$ana/baixados"
    local baixado
    baixado=$(as_user "$ana" "$bin/vek-cli" baixar --registro 123456 --tipo RET --id "$id" --destino "$ana/baixados") ||
        fail "download"
    cmp -s "$work/retorno.xml" "$baixado" || fail "the download differs from the published file"
    [[ -d $base/temp ]] || fail "the download did not go through the per-user temp/"

    # The window itself, unattended: it sends the file a parameter file names
    # and writes the response in the per-user Protocolos/ (the machine-wide
    # Path setting, which an ordinary user cannot write, is skipped quietly).
    # The window stays open for its user afterwards, so the test closes it.
    as_user "$ana" "$bin/vek-cli" gerar-parametros --formato 1 --registro 123456 --arquivo "$work/movimento.xml" \
        --resposta resposta-pacote.xml --checksum auto -o "$ana/envio.par" || fail "gerar-parametros"
    serve_as_user "$ana" "$bin/vek" "$ana/envio.par" >"$work/vek.out" 2>&1 </dev/null &
    local vek_pid=$!
    cleanup_steps+=("kill -TERM $vek_pid 2>/dev/null; wait $vek_pid 2>/dev/null")
    local response=$base/Protocolos/resposta-pacote.xml
    tries=0
    until python3 -c 'import sys, xml.etree.ElementTree as ET; ET.parse(sys.argv[1])' "$response" 2>/dev/null; do
        kill -0 "$vek_pid" 2>/dev/null || fail "vek ended before the response: $(cat "$work/vek.out")"
        ((++tries < 3000)) || fail "vek wrote no response: $(cat "$work/vek.out")"
        sleep 0.1
    done
    kill -TERM "$vek_pid"
    wait "$vek_pid" || true
    python3 - "$response" <<'PY' || fail "the window's upload failed: $(cat "$response")"
import sys, xml.etree.ElementTree as ET
protocol = ET.parse(sys.argv[1]).getroot().findtext(".//protocoloTX")
sys.exit(0 if protocol and protocol.strip() else 1)
PY

    # Copied once: a later template changes nothing for ana.
    cp "$base/vek.INI" "$work/ana-before"
    write_template "ServidorInternet=127.0.0.1" "PortaServico=1" "Depuracao=S"
    as_user "$ana" "$bin/vek-cli" listar --registro 123456 --tipo RET >/dev/null || fail "listar after a new template"
    cmp -s "$work/ana-before" "$base/vek.INI" || fail "a later template changed ana's configuration"

    # bia: her own vek.INI (under XDG_DATA_HOME) already points at the message
    # port; the template adds the FTP keys and loses on PortaServico.
    local bia=$work/bia bia_base=$work/bia/dados/vek
    user_dir "$bia"
    user_dir "$bia/dados"
    user_dir "$bia_base"
    printf '[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=%s\r\n' "$message_port" >"$bia_base/vek.INI"
    (($(id -u) != 0)) || chown 65534:65534 "$bia_base/vek.INI"
    write_template "ServidorInternet=192.0.2.1" "PortaServico=1" "PortaFTP=$ftp_port" "PortaDados=$(free_port)"
    user_dir "$bia/baixados"
    baixado=$(as_user "$bia" env XDG_DATA_HOME="$bia/dados" "$bin/vek-cli" baixar --registro 123456 --tipo RET \
        --id "$id" --destino "$bia/baixados") || fail "bia's download"
    cmp -s "$work/retorno.xml" "$baixado" || fail "bia's download differs"
    grep -qx $'ServidorInternet=127.0.0.1\r' "$bia_base/vek.INI" || fail "bia's server was replaced"
    grep -qx "PortaServico=$message_port"$'\r' "$bia_base/vek.INI" || fail "bia's port was replaced"
    grep -qx "PortaFTP=$ftp_port"$'\r' "$bia_base/vek.INI" || fail "the template's FTP port was not added"
    [[ ! -e $bia/.local ]] || fail "bia's files went to ~/.local despite XDG_DATA_HOME"

    # Nothing was written beside the programs.
    find "$root" -printf '%p %s %T@\n' | sort >"$work/tree-after"
    diff -u "$work/tree-before" "$work/tree-after" || fail "the unpacked tree changed"

    kill -TERM "$zebd_pid"
    wait "$zebd_pid" || fail "zebd did not end cleanly on SIGTERM"
    cleanup_steps=()
}

case $check in
    build) check_build "$@" ;;
    lintian) check_lintian ;;
    contents) check_contents ;;
    desktop) check_desktop ;;
    manpages) check_manpages ;;
    completion) check_completion ;;
    systemd) check_systemd ;;
    run) check_run ;;
    *) fail "unknown check $check" ;;
esac
echo "packaging $check: ok"
