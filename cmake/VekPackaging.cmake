# What an installation holds besides the programs (their install() rules sit
# beside their targets), and the three Debian packages CPack makes of it:
# vek-cli (component "cli": the client without a window, no Qt), vek (the
# window and the receipt's drawing; depends on vek-cli) and zebd.
#   cpack --config build/CPackConfig.cmake -B build      (or: bash scripts/package.sh)
#
# One version: project() in the top CMakeLists.txt sets the product's
# version; the programs' --version, the packages, the manual pages, the
# changelog entry and the AppStream release all take it from there, with the
# release date below. The protocol's "VEK-4.0.8" on the wire is the design's
# own and does not follow it.

set(VEK_PACKAGE_MAINTAINER "Equipe VEK <vek@zeb.example.org>" CACHE STRING "Maintainer field of the Debian packages")
set(VEK_HOMEPAGE "https://vek.zeb.example.org/" CACHE STRING
    "Home page of the packages and the AppStream metainfo (screenshots under capturas/), ending in /")
# The AppStream component id is the home page's domain reversed.
set(VEK_APPSTREAM_ID "org.example.zeb.vek")
# The release: its date (the changelog entry, the AppStream release, the
# manual pages' footer) and the Debian revision of this packaging.
set(VEK_RELEASE_DATE "2026-12-10")
set(VEK_DEBIAN_REVISION 1)
set(VEK_DEBIAN_VERSION "${PROJECT_VERSION}-${VEK_DEBIAN_REVISION}")
execute_process(COMMAND date -u -d "${VEK_RELEASE_DATE} 15:00:00" "+%a, %d %b %Y %H:%M:%S +0000"
                OUTPUT_VARIABLE VEK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND date -u -d "${VEK_RELEASE_DATE}" "+%B %Y"
                OUTPUT_VARIABLE VEK_RELEASE_MONTH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(_src ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)

configure_file(${_src}/vek.metainfo.xml.in ${_gen}/${VEK_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${_src}/changelog.in ${_gen}/changelog @ONLY)
# The packages are not uploaded to Debian, so their first revision closes no
# request-for-packaging bug; lintian's warning about it is answered here.
foreach(_package IN ITEMS vek-cli vek zebd)
    file(WRITE ${_gen}/lintian/${_package}
         "# Not uploaded to the Debian archive: there is no packaging request bug to close.\n"
         "${_package}: initial-upload-closes-no-bugs\n")
endforeach()
foreach(_page IN ITEMS vek.1 vek-cli.1 zebd.8)
    configure_file(${_src}/man/${_page} ${_gen}/man/${_page} @ONLY)
endforeach()

# Manual pages and changelogs go in compressed with gzip -9n, as Debian wants
# them, and without a time stamp so the packages come out the same each time.
set(_gzipped)
foreach(_source IN ITEMS ${_gen}/man/vek.1 ${_gen}/man/vek-cli.1 ${_gen}/man/zebd.8 ${_gen}/changelog)
    get_filename_component(_name ${_source} NAME)
    set(_output ${_gen}/${_name}.gz)
    add_custom_command(OUTPUT ${_output}
                       COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${_source} ${_output}
                       DEPENDS ${_source}
                       VERBATIM)
    list(APPEND _gzipped ${_output})
endforeach()
add_custom_target(vek_packaging_files ALL DEPENDS ${_gzipped})

# vek-cli: the client without a window
set(_doc ${CMAKE_INSTALL_DATADIR}/doc)
install(FILES ${_gen}/vek-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${_src}/completion/vek-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        COMPONENT cli)
install(FILES ${_src}/copyright DESTINATION ${_doc}/vek-cli COMPONENT cli)
install(FILES ${_gen}/changelog.gz DESTINATION ${_doc}/vek-cli RENAME changelog.Debian.gz COMPONENT cli)
install(FILES ${_gen}/lintian/vek-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT cli)
install(FILES ${_src}/vek.INI.exemplo DESTINATION ${_doc}/vek-cli/examples RENAME vek.INI COMPONENT cli)

# vek: the window and the receipt's drawing
install(FILES ${_src}/vek.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT vek)
install(FILES ${_gen}/${VEK_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT vek)
install(FILES ${_src}/vek-parametros.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME vek.xml
        COMPONENT vek)
install(FILES ${_src}/icons/vek.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT vek)
foreach(_size IN ITEMS 16 24 32 48 64 128 256)
    install(FILES ${_src}/icons/vek-${_size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME vek.png
            COMPONENT vek)
endforeach()
install(FILES ${_gen}/vek.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vek)
install(FILES ${_src}/copyright DESTINATION ${_doc}/vek COMPONENT vek)
install(FILES ${_gen}/changelog.gz DESTINATION ${_doc}/vek RENAME changelog.Debian.gz COMPONENT vek)
install(FILES ${_gen}/lintian/vek DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT vek)

# zebd: the server counterpart and its service
install(FILES ${_src}/zebd/zebd.service DESTINATION lib/systemd/system COMPONENT zebd)
install(FILES ${_gen}/zebd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT zebd)
install(FILES ${_src}/copyright DESTINATION ${_doc}/zebd COMPONENT zebd)
install(FILES ${_gen}/changelog.gz DESTINATION ${_doc}/zebd RENAME changelog.Debian.gz COMPONENT zebd)
install(FILES ${_gen}/lintian/zebd DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT zebd)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vek)
set(CPACK_PACKAGE_VENDOR ZEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VEK_DEBIAN_REVISION})
set(CPACK_PACKAGE_CONTACT ${VEK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL cli vek zebd)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VEK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VEK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME vek-cli)
set(CPACK_DEBIAN_CLI_DESCRIPTION [=[ZEB agency file transmission client, command line - cliente VEK sem janela
vek-cli is the VEK client without a window, for scripts, servers and
terminals: it sends data files to the ZEB agency and gets the receipt,
lists and downloads the files made available, consults the transmission
history, changes the transmission password, sends the files a folder
receives and fetches the files of a type as they are published. It needs
no display and no graphical library. An installed client keeps its files
in ~/.local/share/vek. The receipt's PDF (vek-cli recibo) is drawn by the
window's package, vek.

O vek-cli é o cliente VEK sem janela, para scripts, servidores e
terminais: envia arquivos de dados à ZEB e recebe o recibo, lista e baixa
os arquivos disponibilizados, consulta o histórico de transmissões,
altera a senha de transmissão, envia os arquivos que chegam a uma pasta e
recebe os arquivos de um tipo à medida que são publicados. Não precisa de
tela nem de biblioteca gráfica. Um cliente instalado guarda seus arquivos
em ~/.local/share/vek. O PDF do recibo (vek-cli recibo) é desenhado pelo
pacote da janela, vek.]=])

set(CPACK_DEBIAN_VEK_PACKAGE_NAME vek)
# The window maps its fonts to DejaVu and Liberation, and shows Qt's own
# dialogs in Portuguese.
set(CPACK_DEBIAN_VEK_PACKAGE_DEPENDS
    "vek-cli (= ${VEK_DEBIAN_VERSION}), fonts-dejavu-core, fonts-liberation, qt6-translations-l10n")
set(CPACK_DEBIAN_VEK_DESCRIPTION [=[ZEB agency file transmission client - cliente de transmissão à ZEB
VEK is the desktop client through which operators send data files to the
ZEB agency and get a receipt, list and download the files made available
to them, consult their transmission history and change their transmission
password. The command-line client, vek-cli, comes with it. An installed
client keeps its files in ~/.local/share/vek.

O VEK é o cliente pelo qual as operadoras enviam arquivos de dados à ZEB
e recebem o recibo, listam e baixam os arquivos disponibilizados a elas,
consultam o histórico de transmissões e alteram a senha de transmissão.
O cliente de linha de comando, vek-cli, vem com ele. Um cliente
instalado guarda seus arquivos em ~/.local/share/vek.]=])

set(CPACK_DEBIAN_ZEBD_PACKAGE_NAME zebd)
set(CPACK_DEBIAN_ZEBD_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_ZEBD_PACKAGE_CONTROL_EXTRA ${_src}/zebd/postinst ${_src}/zebd/prerm ${_src}/zebd/postrm)
set(CPACK_DEBIAN_ZEBD_DESCRIPTION [=[ZEB server counterpart for VEK - servidor de treinamento da ZEB
zebd answers the VEK client the way the ZEB agency's server does: message
server, FTP face and an SQLite store of operators, uploads, history and
files made available for download. It serves demos, tests and training.
The package runs it as the systemd service zebd, on loopback only, with
its data in /var/lib/zebd.

O zebd responde ao cliente VEK como o servidor da ZEB: servidor de
mensagens, FTP e um banco SQLite de operadoras, envios, histórico e
arquivos disponibilizados. Serve para demonstrações, testes e
treinamento. O pacote o executa como o serviço systemd zebd, apenas no
endereço local, com os dados em /var/lib/zebd.]=])

include(CPack)
