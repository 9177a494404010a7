#!/usr/bin/env bash
# Checks of the Debian packages made from a build tree, one check per call:
#   packaging_test.sh CHECK DEBS_DIR
# CHECK: build TREE | lintian | contents | hardening | desktop | manpages | completion | systemd | syscalls | run | firstsetup
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
vek_cli_deb() { ls "$debs"/vek-cli_*.deb; }
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
    [[ -f $(vek_cli_deb) && -f $(vek_deb) && -f $(zebd_deb) ]] || fail "the packages were not made"
}

check_lintian() {
    require lintian
    local out
    # Errors and warnings fail; informational tags are listed.
    out=$(lintian --fail-on error,warning --info --display-info "$(vek_cli_deb)" "$(vek_deb)" "$(zebd_deb)" 2>&1) ||
        { printf '%s\n' "$out"; fail "lintian found errors or warnings"; }
    printf '%s\n' "$out"
}

# Every entry but the directories, with its mode and owner, against the list
# kept beside this script.
check_contents() {
    local package deb listed
    for package in vek-cli vek zebd; do
        deb=$(ls "$debs/${package}"_*.deb)
        listed=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
        if ! diff -u "$here/$package.contents" <(printf '%s\n' "$listed"); then
            fail "$package: the files differ from $package.contents"
        fi
        dpkg-deb --contents "$deb" | awk '$2 != "root/root" { bad = 1 } END { exit bad }' ||
            fail "$package: an entry not owned by root"
    done
    # One version: the project's, with the packaging's Debian revision.
    local version
    version=$(project_version)
    for package in vek-cli vek zebd; do
        [[ $(dpkg-deb -f "$(ls "$debs/${package}"_*.deb)" Version) == "$version-"[1-9]* ]] ||
            fail "$package: version $(dpkg-deb -f "$(ls "$debs/${package}"_*.deb)" Version) is not the project's $version with a Debian revision"
    done
    dpkg-deb -f "$(vek_deb)" Depends | grep -qF "vek-cli (= $(dpkg-deb -f "$(vek_cli_deb)" Version))" ||
        fail "vek does not depend on its own vek-cli"
    # vek-cli installs on a host without a display: no Qt GUI, no X, in its
    # dependencies or in what the program loads.
    local cli_depends
    cli_depends=$(dpkg-deb -f "$(vek_cli_deb)" Depends)
    [[ -n $cli_depends ]] || fail "vek-cli: no computed dependency"
    ! grep -qiE 'qt|libx11|libxcb|libgl|fonts' <<<"$cli_depends" || fail "vek-cli depends on a graphical library: $cli_depends"
    unpack "$(vek_cli_deb)"
    local libs
    libs=$(ldd "$root/usr/bin/vek-cli")
    ! grep -qiE 'libQt6|libX11|libxcb|libGL' <<<"$libs" || fail "vek-cli loads a graphical library: $libs"
    # Alone, it says which package draws a receipt.
    local err status=0
    mkdir "$work/base"
    err=$(VEK_DIR=$work/base "$root/usr/bin/vek-cli" recibo "$work/registro.xml" 2>&1 >/dev/null) || status=$?
    ((status == 1)) && grep -q 'pacote vek' <<<"$err" || fail "vek-cli recibo without vek: status $status, $err"
    dpkg-deb -f "$(vek_deb)" Depends | grep -q 'libqt6widgets6' || fail "vek: no computed Qt dependency"
    dpkg-deb -f "$(vek_deb)" Depends | grep -q 'fonts-dejavu-core, fonts-liberation' || fail "vek: fonts missing"
    dpkg-deb -f "$(zebd_deb)" Depends | grep -q 'libsqlite3-0' || fail "zebd: no computed SQLite dependency"
}

# The product's version, as project() in the top CMakeLists.txt sets it.
project_version() {
    sed -n 's/^project(VEK VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt"
}

# Debian's hardening flags reached every installed program. The ELF mark of
# control-flow protection cannot be there on Debian 12: glibc's start files
# (crt1.o, crti.o) are built without it, so the linker rightly leaves it out
# of every program, Debian's own included. What the flag does to our code,
# an end-branch instruction at each indirect-branch target, is checked instead.
check_hardening() {
    require hardening-check objdump
    unpack "$(vek_cli_deb)" "$(vek_deb)" "$(zebd_deb)"
    local program out checked=0
    for program in "$root"/usr/bin/* "$root"/usr/sbin/* "$root"/usr/libexec/vek/*; do
        [[ -f $program ]] || continue
        out=$(hardening-check --nocfprotection "$program" 2>&1) ||
            { printf '%s\n' "$out"; fail "hardening-check: $program"; }
        printf '%s\n' "$out"
        (($(objdump -d "$program" | grep -c endbr64) > 100)) || fail "$program: built without -fcf-protection"
        ((++checked))
    done
    ((checked == 4)) || fail "$checked programs checked, not vek, vek-cli, vek-recibo and zebd"
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
    grep -q "<release version=\"$(project_version)\"" "$metainfo" || fail "release version"
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
    unpack "$(vek_cli_deb)" "$(vek_deb)" "$(zebd_deb)"
    local page warnings
    for page in man1/vek.1.gz man1/vek-cli.1.gz man8/zebd.8.gz; do
        [[ -f $root/usr/share/man/$page ]] || fail "$page is not installed"
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/$page" 2>&1 >/dev/null)
        [[ -z $warnings ]] || fail "$page: $warnings"
    done
    # Each page's footer and each package's changelog carry the project's version.
    local version
    version=$(project_version)
    for page in man1/vek.1.gz man1/vek-cli.1.gz man8/zebd.8.gz; do
        LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/$page" 2>/dev/null | tail -1 |
            grep -q "^VEK $version " || fail "$page: the footer does not carry VEK $version"
    done
    for package in vek-cli vek zebd; do
        zcat "$root/usr/share/doc/$package/changelog.Debian.gz" | head -1 | grep -q "^vek ($version-[1-9][0-9]*) " ||
            fail "$package: the changelog's entry is not for $version"
    done
    LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/vek.1.gz" 2>/dev/null |
        grep -q '(Recibos anteriores)' || fail "vek(1): the help window's link is not rendered as its caption"

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
        # A command that takes --json says so in its synopsis.
        if "$cli" "$command" --help | head -1 | grep -q -- '--json'; then
            grep -qE -- "^       $command( .*)?\[--json\]" <<<"$text" || fail "vek-cli(1): the synopsis of $command lacks [--json]"
        fi
        for option in $("$cli" "$command" --help | grep -oE -- '(^|[^A-Za-z0-9_-])--?[a-z][a-z0-9-]*' | sed 's/^[^-]*//' | sort -u); do
            grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$text" || fail "vek-cli(1) lacks $command $option"
        done
    done
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man8/zebd.8.gz" 2>&1)
    for option in $("$root/usr/sbin/zebd" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
        grep -qE -- "$option([^a-z-]|$)" <<<"$text" || fail "zebd(8) lacks $option"
    done
    for command in criar operadora tipos recebidos disponibilizar; do
        grep -q "zebd $command" <<<"$text" || fail "zebd(8) lacks zebd $command"
    done
    local section
    for section in "EXIT STATUS" "FIRST SETUP" "FILES" "STORE"; do
        grep -qx "$section" <<<"$text" || fail "zebd(8) has no $section section"
    done
    # No password on a command line anywhere in the server's documentation.
    ! grep -nE 'ZEB_SENHA=|--senha[ =]' "$source_dir/packaging/man/zebd.8" "$source_dir/README.md" ||
        fail "a password on a command line in the documentation"
}

check_completion() {
    unpack "$(vek_cli_deb)"
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
    grep -qx 'StateDirectoryMode=0700' "$unit" || fail "StateDirectoryMode"
    local exec_start
    exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
    # No --dados: the installed program's default store is the StateDirectory.
    [[ $exec_start == "/usr/sbin/zebd --endereco 127.0.0.1 "* ]] || fail "ExecStart: $exec_start"
    [[ $("$root/usr/sbin/zebd" --help) == *"padrão $root/var/lib/zebd."* ]] ||
        fail "the installed zebd's default store is not <root>/var/lib/zebd"
    local ftp_port
    ftp_port=$(sed -n 's/.*--porta-ftp \([0-9]*\).*/\1/p' <<<"$exec_start")
    ((ftp_port > 1024)) || fail "FTP port $ftp_port needs privileges"

    # The unit as installed, but with the program and the manual page of the
    # unpacked tree, since nothing is installed on this machine.
    mkdir "$work/units"
    sed "s|/usr/sbin/zebd|$root/usr/sbin/zebd|" "$unit" >"$work/units/zebd.service"
    local out status=0
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify "$work/units/zebd.service" 2>&1) || status=$?
    if ((status != 0)) && grep -qiE 'not booted|Failed to (initialize|connect|set up)|Operation not permitted' <<<"$out"; then
        echo "SKIP: systemd-analyze verify cannot run here: $out" >&2
        exit 77
    fi
    # systemd-analyze only warns about a value it cannot parse: any output fails.
    ((status == 0)) && [[ -z $out ]] || fail "systemd-analyze verify: $out"
    systemd-analyze security --offline=yes --threshold=20 "$work/units/zebd.service" >"$work/security" 2>&1 ||
        { cat "$work/security"; fail "the service's exposure is above 2.0"; }
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
    unpack "$(vek_cli_deb)" "$(vek_deb)" "$(zebd_deb)"
    local bin=$root/usr/bin sbin=$root/usr/sbin
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

    serve_as_user "$work" "$sbin/zebd" --dados "$work/zeb-dados" --porta 0 --porta-ftp 0 --demo \
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

    # caio starts before the administrator wrote any template: with no server
    # named anywhere, a command that talks to the server says so at once and
    # connects nowhere (his own PortaServico names zebd's port: a connection
    # would have listed the files), and nothing is written into his file.
    local caio=$work/caio caio_base=$work/caio/.local/share/vek
    user_dir "$caio"
    user_dir "$caio/.local"
    user_dir "$caio/.local/share"
    user_dir "$caio_base"
    printf '[Defaults]\r\nPortaServico=%s\r\n' "$message_port" >"$caio_base/vek.INI"
    (($(id -u) != 0)) || chown 65534:65534 "$caio_base/vek.INI"
    cp "$caio_base/vek.INI" "$work/caio-own"
    local status=0
    as_user "$caio" "$bin/vek-cli" listar --registro 123456 --tipo RET >"$work/caio.out" 2>"$work/caio.err" ||
        status=$?
    ((status == 2)) || fail "an unconfigured listar ended with $status: $(cat "$work/caio.out" "$work/caio.err")"
    grep -q '^Erro: O VEK não está configurado' "$work/caio.err" || fail "no 'not configured' error: $(cat "$work/caio.err")"
    grep -qF "$caio_base/vek.INI" "$work/caio.err" || fail "the error does not name the user's file"
    grep -qF "$work/etc/vek/vek.INI" "$work/caio.err" || fail "the error does not name the template"
    [[ ! -s $work/caio.out ]] || fail "an unconfigured listar printed a list"
    as_user "$caio" "$bin/vek-cli" crc32 "$bin/vek-cli" >/dev/null || fail "crc32 needs no server"
    cmp -s "$work/caio-own" "$caio_base/vek.INI" || fail "the client wrote into caio's configuration"

    # ana: no files of her own yet; the administrator's template points at zebd.
    local ana=$work/ana base=$work/ana/.local/share/vek
    user_dir "$ana"
    write_template "ServidorInternet=127.0.0.1" "PortaServico=$message_port" "PortaFTP=$ftp_port" \
        "PortaDados=$(free_port)"
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<declaracao operadora="123456"/>\n' >"$work/movimento.xml"
    chmod 644 "$work/movimento.xml"

    as_user "$ana" "$bin/vek-cli" enviar --registro 123456 "$work/movimento.xml" >"$work/enviar.out" ||
        fail "upload: $(cat "$work/enviar.out")"
    grep -q '^Protocolo: [0-9]' "$work/enviar.out" || fail "no protocol: $(cat "$work/enviar.out")"
    grep -q "^Registro: $base/Protocolos/VEK-movimento" "$work/enviar.out" ||
        fail "the record is not in the per-user directory: $(cat "$work/enviar.out")"
    [[ $(stat -c %a "$base") == 700 ]] || fail "the per-user directory is not private"
    [[ ! -e $base/vek.INI ]] || fail "the template or defaults were written into ana's configuration"
    # caio follows the template as soon as it is there.
    as_user "$caio" "$bin/vek-cli" listar --registro 123456 --tipo RET >/dev/null ||
        fail "caio's listar once the template names the server"

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
    id=$(as_user "$work" "$sbin/zebd" disponibilizar --dados "$work/zeb-dados" --registro 123456 --tipo RET \
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

    # A changed template reaches both at their next command; the key caio sets
    # by hand stays his. The new template turns plain trace lines on; caio
    # keeps his traces enciphered.
    [[ ! -e $base/vek.INI ]] || fail "the client wrote into ana's configuration"
    printf '[Defaults]\r\nPortaServico=%s\r\nArquivoDepuracaoCript=S\r\n' "$message_port" >"$caio_base/vek.INI"
    cp "$caio_base/vek.INI" "$work/caio-own"
    write_template "ServidorInternet=127.0.0.1" "PortaServico=$message_port" "PortaFTP=$ftp_port" \
        "PortaDados=$(free_port)" "Depuracao=S" "ArquivoDepuracaoCript=N"
    local who
    for who in ana caio; do
        as_user "$work/$who" "$bin/vek-cli" listar --registro 123456 --tipo RET >/dev/null ||
            fail "$who's listar after a new template"
    done
    local traced='Recebida a resposta do servidor'
    grep -aq "$traced" "$base/TraceVEK.log" || fail "ana does not trace in plain lines as the template says"
    [[ -s $caio_base/TraceVEK.log ]] || fail "caio does not trace as the template says"
    ! grep -aq "$traced" "$caio_base/TraceVEK.log" || fail "caio's own ArquivoDepuracaoCript was lost"
    as_user "$caio" "$bin/vek-cli" decifrar-trace >"$work/caio-trace.txt" || fail "decifrar-trace"
    grep -q "$traced" "$work/caio-trace.txt" || fail "caio's enciphered trace does not decipher"
    cmp -s "$work/caio-own" "$caio_base/vek.INI" || fail "the client changed caio's configuration"
    [[ ! -e $base/vek.INI ]] || fail "the client wrote into ana's configuration"

    # dani used an earlier version: it wrote the defaults into her file before
    # the template existed, then added the template's keys and its marker. The
    # first start takes those keys out (keeping a backup) and her own key stays.
    local dani=$work/dani dani_base=$work/dani/.local/share/vek
    user_dir "$dani"
    user_dir "$dani/.local"
    user_dir "$dani/.local/share"
    user_dir "$dani_base"
    printf '[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=80\r\nPortaFTP=%s\r\nJanelaEnvio=8\r\n' \
        "$ftp_port" >"$dani_base/vek.INI"
    printf '%s\n' /etc/vek/vek.INI >"$dani_base/.modelo-copiado"
    touch -r "$dani_base/vek.INI" "$dani_base/.modelo-copiado"
    (($(id -u) != 0)) || chown 65534:65534 "$dani_base/vek.INI" "$dani_base/.modelo-copiado"
    cp "$dani_base/vek.INI" "$work/dani-before"
    as_user "$dani" "$bin/vek-cli" listar --registro 123456 --tipo RET >/dev/null ||
        fail "dani's listar after the upgrade"
    [[ $(cat "$dani_base/vek.INI") == $'[Defaults]\r\nJanelaEnvio=8\r' ]] ||
        fail "dani's configuration after the upgrade: $(cat -A "$dani_base/vek.INI")"
    cmp -s "$work/dani-before" "$dani_base/vek.INI.antes-da-camada" || fail "no backup of dani's configuration"
    [[ -f $dani_base/.camada-modelo && ! -e $dani_base/.modelo-copiado ]] || fail "the upgrade was not recorded"

    # bia: her own vek.INI (under XDG_DATA_HOME) already points at the message
    # port; the template gives the FTP keys and loses on PortaServico.
    local bia=$work/bia bia_base=$work/bia/dados/vek
    user_dir "$bia"
    user_dir "$bia/dados"
    user_dir "$bia_base"
    printf '[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=%s\r\n' "$message_port" >"$bia_base/vek.INI"
    (($(id -u) != 0)) || chown 65534:65534 "$bia_base/vek.INI"
    cp "$bia_base/vek.INI" "$work/bia-own"
    write_template "ServidorInternet=192.0.2.1" "PortaServico=1" "PortaFTP=$ftp_port" "PortaDados=$(free_port)"
    user_dir "$bia/baixados"
    baixado=$(as_user "$bia" env XDG_DATA_HOME="$bia/dados" "$bin/vek-cli" baixar --registro 123456 --tipo RET \
        --id "$id" --destino "$bia/baixados") || fail "bia's download"
    cmp -s "$work/retorno.xml" "$baixado" || fail "bia's download differs"
    cmp -s "$work/bia-own" "$bia_base/vek.INI" || fail "the client changed bia's configuration"
    [[ ! -e $bia/.local ]] || fail "bia's files went to ~/.local despite XDG_DATA_HOME"

    # Nothing was written beside the programs.
    find "$root" -printf '%p %s %T@\n' | sort >"$work/tree-after"
    diff -u "$work/tree-before" "$work/tree-after" || fail "the unpacked tree changed"

    kill -TERM "$zebd_pid"
    wait "$zebd_pid" || fail "zebd did not end cleanly on SIGTERM"
    cleanup_steps=()
}

# The system calls a unit's SystemCallFilter= lines allow (an allow list,
# then the "~" lists taken out), one per line, groups expanded by
# systemd-analyze itself.
unit_syscalls() {
    python3 - "$1" <<'PY'
import subprocess, sys
def expand(name, seen):
    if not name.startswith("@"):
        return {name}
    if name in seen:
        return set()
    seen.add(name)
    out = subprocess.run(["systemd-analyze", "syscall-filter", name], check=True,
                         capture_output=True, text=True).stdout
    calls = set()
    for line in out.splitlines()[1:]:
        line = line.strip()
        if line and not line.startswith("#"):
            calls |= expand(line, seen)
    return calls
allowed, denied = None, set()
for line in open(sys.argv[1]):
    line = line.strip()
    if not line.startswith("SystemCallFilter="):
        continue
    value = line.split("=", 1)[1]
    deny = value.startswith("~")
    calls = set()
    for item in value.lstrip("~").split():
        calls |= expand(item, set())
    if deny:
        denied |= calls
    else:
        allowed = calls if allowed is None else allowed | calls
if allowed is None:
    sys.exit("the unit has no SystemCallFilter allow list")
print("\n".join(sorted(allowed - denied)))
PY
}

# The installed zebd under the unit's system-call filter, shown without a
# running systemd: zebd serves a demo store (start, key, upload, list query,
# FTP download, stop) under strace, and every system call it made must be
# one the unit's SystemCallFilter= lines allow.
check_syscalls() {
    require strace setpriv python3 systemd-analyze
    unpack "$debs"/*.deb
    local bin=$root/usr/bin sbin=$root/usr/sbin
    local unit=$root/usr/lib/systemd/system/zebd.service
    grep -qx 'SystemCallArchitectures=native' "$unit" || fail "the unit allows foreign architectures"
    unit_syscalls "$unit" >"$work/allowed" || fail "cannot read the unit's system-call filter"
    user_dir "$work/tmp"
    user_dir "$work/zeb-dados"
    user_dir "$work/trace"

    serve_as_user "$work" strace -f -qq -o "$work/trace/strace.log" "$sbin/zebd" --dados "$work/zeb-dados" \
        --porta 0 --porta-ftp 0 --demo >"$work/zebd.out" 2>&1 &
    local strace_pid=$!
    cleanup_steps+=("kill -TERM $strace_pid 2>/dev/null; wait $strace_pid 2>/dev/null")
    local tries=0
    until grep -qs '^zebd: mensagens ' "$work/zebd.out"; do
        kill -0 "$strace_pid" 2>/dev/null || { cat "$work/zebd.out"; fail "zebd under strace ended"; }
        ((++tries < 1200)) || fail "zebd under strace does not listen"
        sleep 0.1
    done
    local zebd_pid message_port ftp_port
    zebd_pid=$(awk 'NR == 1 { print $1 }' "$work/trace/strace.log")
    [[ $zebd_pid =~ ^[0-9]+$ ]] || fail "no process id in the trace"
    # On a failure the traced zebd ends first, then strace with it.
    cleanup_steps=("kill -TERM $zebd_pid 2>/dev/null" "${cleanup_steps[@]}")
    read -r message_port ftp_port < <(sed -n 's/^zebd: mensagens [0-9.]*:\([0-9]*\) ftp [0-9.]*:\([0-9]*\).*/\1 \2/p' "$work/zebd.out")

    local ana=$work/ana
    user_dir "$ana"
    user_dir "$ana/baixados"
    write_template "ServidorInternet=127.0.0.1" "PortaServico=$message_port" "PortaFTP=$ftp_port" \
        "PortaDados=$(free_port)"
    printf '<declaracao operadora="123456"/>\n' >"$work/movimento.xml"
    chmod 644 "$work/movimento.xml"
    as_user "$ana" "$bin/vek-cli" enviar --registro 123456 "$work/movimento.xml" >"$work/enviar.out" ||
        fail "upload: $(cat "$work/enviar.out")"
    local id
    id=$(as_user "$ana" "$bin/vek-cli" listar --registro 123456 --tipo RET | awk -F'\t' 'NR == 2 { print $7 }')
    [[ -n $id ]] || fail "the demo store lists no RET file"
    as_user "$ana" "$bin/vek-cli" baixar --registro 123456 --tipo RET --id "$id" --destino "$ana/baixados" \
        >/dev/null || fail "download"

    kill -TERM "$zebd_pid"
    wait "$strace_pid" || fail "zebd under strace did not end cleanly: $(cat "$work/zebd.out")"
    cleanup_steps=()
    grep -q ' execve(' "$work/trace/strace.log" || fail "strace recorded nothing"
    sed -nE 's/^[0-9]+ +([a-z_0-9]+)\(.*/\1/p' "$work/trace/strace.log" | sort -u >"$work/used"
    local outside
    outside=$(comm -23 "$work/used" "$work/allowed")
    [[ -z $outside ]] || fail "zebd made system calls the unit denies: $(tr '\n' ' ' <<<"$outside")"
    echo "zebd made $(wc -l <"$work/used") distinct system calls, all allowed by the unit's filter"
}

# The first setup exactly as README's Install section gives it (the command
# lines of its first-setup block, which zebd(8) repeats): the administrator's
# lines (sudo) run as root when the test runs as root, on a store owned by an
# unprivileged user (nobody, standing for _zebd), the server and the
# operator's vek-cli as that unprivileged user; it ends with an accepted
# upload and a download.
check_firstsetup() {
    require setpriv python3 man
    unpack "$debs"/*.deb
    local bin=$root/usr/bin sbin=$root/usr/sbin store=$root/var/lib/zebd
    mkdir -p "$root/var/lib"
    mkdir -m 0700 "$store"
    (($(id -u) != 0)) || chown 65534:65534 "$store"
    (($(id -u) == 0)) || chmod -R a-w "$root/usr"
    user_dir "$work/tmp"

    local lines=() line
    mapfile -t lines < <(sed -n '/^<!-- first-setup/,/^<!-- \/first-setup -->/p' "$source_dir/README.md" |
        grep -E '^((sudo )?(zebd|vek-cli) |sudo mkdir -p /etc/vek && printf )' | sed -E 's/[[:space:]]+#[[:space:]].*$//')
    ((${#lines[@]} >= 8)) || fail "README's first-setup block has ${#lines[@]} command lines"
    local page
    page=$(LC_ALL=C.UTF-8 MANWIDTH=400 man -l "$root/usr/share/man/man8/zebd.8.gz" 2>/dev/null |
        sed -n '/^FIRST SETUP/,/^[A-Z]/p' | sed -nE 's/^ {10,}((sudo )?(zebd|vek-cli) .*)$/\1/p')
    [[ $page == "$(printf '%s\n' "${lines[@]}" | grep -v '^sudo mkdir -p /etc/vek ')" ]] ||
        fail "zebd(8)'s FIRST SETUP differs from README's: $(diff <(printf '%s\n' "$page") <(printf '%s\n' "${lines[@]}"))"

    # The service: the installed program on its default store, as its user.
    serve_as_user "$work" "$sbin/zebd" --endereco 127.0.0.1 --porta 0 --porta-ftp 0 \
        >"$work/zebd.out" 2>"$work/zebd.err" &
    local zebd_pid=$!
    cleanup_steps+=("kill -TERM $zebd_pid 2>/dev/null; wait $zebd_pid 2>/dev/null")
    local tries=0
    until grep -qs '^zebd: mensagens ' "$work/zebd.out"; do
        kill -0 "$zebd_pid" 2>/dev/null || fail "zebd ended: $(cat "$work/zebd.out" "$work/zebd.err")"
        ((++tries < 1200)) || fail "zebd does not listen"
        sleep 0.1
    done
    [[ -f $store/zeb.sqlite3 ]] || fail "the installed zebd did not use $store"
    local lack
    for lack in 'nenhuma operadora.*"zebd operadora --registro R"' \
        'tipos de envio está vazia.*"zebd tipos --envio LISTA"' \
        'tipos de download está vazia.*"zebd tipos --download LISTA"'; do
        grep -qE "^zebd: .*$lack" "$work/zebd.err" || fail "zebd does not say at start: $lack: $(cat "$work/zebd.err")"
    done
    local message_port ftp_port
    read -r message_port ftp_port < <(sed -n 's/^zebd: mensagens [0-9.]*:\([0-9]*\) ftp [0-9.]*:\([0-9]*\).*/\1 \2/p' "$work/zebd.out")
    # The administrator's folder holds the file to publish; the operator's the file to send.
    mkdir "$work/admin"
    printf '<retorno operadora="123456"><registro numero="1"/></retorno>\n' >"$work/admin/retorno.xml"
    chmod 600 "$work/admin/retorno.xml"
    local operadora=$work/operadora home=$work/casa
    user_dir "$operadora"
    user_dir "$home"
    printf '<declaracao operadora="123456"/>\n' >"$operadora/movimento.xml"
    (($(id -u) != 0)) || chown 65534:65534 "$operadora/movimento.xml"

    local step=0 path=$sbin:$bin:/usr/bin:/bin
    for line in "${lines[@]}"; do
        step=$((step + 1))
        if [[ $line == "sudo mkdir -p /etc/vek && printf "* ]]; then
            # The clients' template, in the test's /etc, with the ports this
            # zebd listens on and a free data port.
            line=${line//sudo /}
            line=${line//\/etc\/vek/$work/etc/vek}
            line=${line//PortaServico=8080/PortaServico=$message_port}
            line=${line//PortaFTP=2121/PortaFTP=$ftp_port\\nPortaDados=$(free_port)}
            bash -c "$line" >"$work/step$step.out" 2>"$work/step$step.err" || fail "[$line]: $(cat "$work/step$step.err")"
            chmod 644 "$work/etc/vek/vek.INI"
            grep -qx "PortaServico=$message_port" "$work/etc/vek/vek.INI" || fail "the template: $(cat "$work/etc/vek/vek.INI")"
        elif [[ $line == "sudo "* ]]; then
            # ZEB_SENHA stands for the password the command asks on a terminal.
            (cd "$work/admin" && env -i PATH="$path" LC_ALL=C.UTF-8 ZEB_SENHA=demo timeout 300 \
                bash -c "${line#sudo }") >"$work/step$step.out" 2>"$work/step$step.err" ||
                fail "[$line]: $(cat "$work/step$step.out" "$work/step$step.err")"
        else
            as_user "$home" env PATH="$path" bash -c "cd \"\$1\" && $line" step "$operadora" \
                >"$work/step$step.out" 2>"$work/step$step.err" ||
                fail "[$line]: $(cat "$work/step$step.out" "$work/step$step.err")"
        fi
        case $line in
            "sudo zebd criar"*) grep -q 'já existia; nada mudou' "$work/step$step.out" ||
                fail "criar on the service's store: $(cat "$work/step$step.out")" ;;
            "sudo zebd disponibilizar"*) [[ $(cat "$work/step$step.out") == 1 ]] ||
                fail "the first file's identifier is not 1: $(cat "$work/step$step.out")" ;;
            "vek-cli enviar"*) grep -q '^Protocolo: [0-9]' "$work/step$step.out" ||
                fail "the upload was not accepted: $(cat "$work/step$step.out" "$work/step$step.err")" ;;
            "vek-cli listar"*) awk -F'\t' 'NR > 1 && $7 == 1 { found = 1 } END { exit !found }' "$work/step$step.out" ||
                fail "the published file is not listed: $(cat "$work/step$step.out")" ;;
            "vek-cli baixar"*) cmp -s "$work/admin/retorno.xml" "$operadora/retorno.xml" ||
                fail "the download differs from the published file" ;;
        esac
    done
    [[ -f $operadora/retorno.xml ]] || fail "nothing was downloaded"
    as_user "$work" "$sbin/zebd" recebidos | grep -q $'\tmovimento.xml\t' || fail "zebd recebidos lacks the upload"

    # What the administrator's commands made belongs to the store's owner,
    # with no more permission than the store directory has.
    local stray
    stray=$(find "$store" ! -user "$(stat -c %u "$store")" -o -perm /077)
    [[ -z $stray ]] || fail "files of another owner or open to others in the store: $(ls -ld $stray)"

    kill -TERM "$zebd_pid"
    wait "$zebd_pid" || fail "zebd did not end cleanly on SIGTERM"
    cleanup_steps=()
}

case $check in
    build) check_build "$@" ;;
    lintian) check_lintian ;;
    contents) check_contents ;;
    hardening) check_hardening ;;
    desktop) check_desktop ;;
    manpages) check_manpages ;;
    completion) check_completion ;;
    systemd) check_systemd ;;
    syscalls) check_syscalls ;;
    run) check_run ;;
    firstsetup) check_firstsetup ;;
    *) fail "unknown check $check" ;;
esac
echo "packaging $check: ok"
