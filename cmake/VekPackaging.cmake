# What an installation holds besides the three programs (their install() rules
# sit beside their targets), and the two Debian packages CPack makes of it:
# vek (the window and vek-cli, component "vek") and zebd (component "zebd").
#   cpack --config build/CPackConfig.cmake -B build      (or: bash scripts/package.sh)

set(VEK_PACKAGE_MAINTAINER "Equipe VEK <vek@zeb.example.org>" CACHE STRING "Maintainer field of the Debian packages")
set(VEK_HOMEPAGE "https://vek.zeb.example.org/" CACHE STRING
    "Home page of the packages and the AppStream metainfo (screenshots under capturas/), ending in /")
# The AppStream component id is the home page's domain reversed.
set(VEK_APPSTREAM_ID "org.example.zeb.vek")
set(VEK_RELEASE_DATE "2026-12-10")
set(VEK_RELEASE_DATE_RFC2822 "Thu, 10 Dec 2026 12:00:00 -0300")

# The installed programs resolve every symbol at start, so their whole
# relocation table is read-only (full RELRO, as Debian's hardening asks).
foreach(_program IN ITEMS vek vek-cli zebd)
    if(TARGET ${_program})
        set_property(TARGET ${_program} APPEND PROPERTY LINK_OPTIONS "LINKER:-z,relro,-z,now")
    endif()
endforeach()

set(_src ${CMAKE_SOURCE_DIR}/packaging)
set(_gen ${CMAKE_BINARY_DIR}/packaging)

configure_file(${_src}/vek.metainfo.xml.in ${_gen}/${VEK_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${_src}/changelog.in ${_gen}/changelog @ONLY)

# Manual pages and changelogs go in compressed with gzip -9n, as Debian wants
# them, and without a time stamp so the packages come out the same each time.
set(_gzipped)
foreach(_source IN ITEMS ${_src}/man/vek.1 ${_src}/man/vek-cli.1 ${_src}/man/zebd.8 ${_gen}/changelog)
    get_filename_component(_name ${_source} NAME)
    set(_output ${_gen}/${_name}.gz)
    add_custom_command(OUTPUT ${_output}
                       COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${_source} ${_output}
                       DEPENDS ${_source}
                       VERBATIM)
    list(APPEND _gzipped ${_output})
endforeach()
add_custom_target(vek_packaging_files ALL DEPENDS ${_gzipped})

# vek: the window and vek-cli
set(_doc ${CMAKE_INSTALL_DATADIR}/doc)
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
install(FILES ${_gen}/vek.1.gz ${_gen}/vek-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vek)
install(FILES ${_src}/completion/vek-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        COMPONENT vek)
install(FILES ${_src}/copyright ${_gen}/changelog.gz DESTINATION ${_doc}/vek COMPONENT vek)
install(FILES ${_src}/vek.INI.exemplo DESTINATION ${_doc}/vek/examples RENAME vek.INI COMPONENT vek)

# zebd: the server counterpart and its service
install(FILES ${_src}/zebd/zebd.service DESTINATION lib/systemd/system COMPONENT zebd)
install(FILES ${_gen}/zebd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT zebd)
install(FILES ${_src}/copyright ${_gen}/changelog.gz DESTINATION ${_doc}/zebd COMPONENT zebd)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vek)
set(CPACK_PACKAGE_VENDOR ZEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VEK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL vek zebd)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VEK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VEK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_VEK_PACKAGE_NAME vek)
# The window maps its fonts to DejaVu and Liberation, and shows Qt's own
# dialogs in Portuguese.
set(CPACK_DEBIAN_VEK_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-liberation, qt6-translations-l10n")
set(CPACK_DEBIAN_VEK_DESCRIPTION [=[ZEB agency file transmission client - cliente de transmissão à ZEB
VEK is the desktop client through which operators send data files to the
ZEB agency and get a receipt, list and download the files made available
to them, consult their transmission history and change their transmission
password. vek-cli runs the same operations without a window, for scripts
and servers. An installed client keeps its files in ~/.local/share/vek.

O VEK é o cliente pelo qual as operadoras enviam arquivos de dados à ZEB
e recebem o recibo, listam e baixam os arquivos disponibilizados a elas,
consultam o histórico de transmissões e alteram a senha de transmissão.
O vek-cli faz as mesmas operações sem janela, para scripts e servidores.
Um cliente instalado guarda seus arquivos em ~/.local/share/vek.]=])

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
