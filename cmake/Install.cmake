# The installed layout. The program finds its companions and resources beside its own executable,
# so they all live in one program folder; bin/ only holds links into it (and the hook client), and
# the desktop entry, icon, service unit and configuration go where the system looks for them.
#
#   lib/qmvardel/          QmVardel, vardeld, libVardelHk.so, qmvardel-sig, Sygn.ini, Skins/, ...
#   bin/                   qmvardel -> ../lib/qmvardel/QmVardel, qmvardel-sig (link), vardel-hook
#   share/applications/    qmvardel.desktop
#   share/icons/hicolor/scalable/apps/qmvardel.svg
#   etc/qmvardel/          vardeld.conf (/etc/qmvardel when the prefix is /usr)
#   <systemd unit folder>  vardeld.service
#
# Destinations stay relative to the prefix wherever the system allows it, so that
# `cmake --install --prefix DIR` puts everything under DIR. Only a /usr install (the Debian
# package) reaches outside it: /etc for the configuration and systemd's own unit folder.

set(QM_INSTALL_APPDIR lib/qmvardel)
set(QM_INSTALL_FULL_APPDIR ${CMAKE_INSTALL_PREFIX}/${QM_INSTALL_APPDIR})

# GNUInstallDirs maps the prefix /usr to /etc (and /opt/X to /etc/opt/X); every other prefix keeps
# its own etc/.
if(CMAKE_INSTALL_FULL_SYSCONFDIR STREQUAL "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}")
  set(QM_INSTALL_ETCDIR ${CMAKE_INSTALL_SYSCONFDIR}/qmvardel)
else()
  set(QM_INSTALL_ETCDIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/qmvardel)
endif()

# The unit goes where `pkg-config systemd` says system units live. That folder belongs to the
# system's prefix: any other prefix gets the same folder under itself (systemd also reads
# /usr/local/lib/systemd/system). Without pkg-config or systemd's .pc file: lib/systemd/system.
set(QM_SYSTEMD_UNIT_DIR "" CACHE STRING "Folder for vardeld.service (empty: ask pkg-config systemd)")
if(QM_SYSTEMD_UNIT_DIR)
  set(QM_INSTALL_UNITDIR ${QM_SYSTEMD_UNIT_DIR})
else()
  set(QM_INSTALL_UNITDIR lib/systemd/system)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(qm_system_unit_dir systemd systemdsystemunitdir)
  endif()
  if(qm_system_unit_dir)
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(QM_INSTALL_UNITDIR ${qm_system_unit_dir})
    else()
      string(REGEX REPLACE "^/(usr/)?" "" QM_INSTALL_UNITDIR "${qm_system_unit_dir}")
    endif()
  endif()
endif()

# Links in bin/ point into the program folder, so /proc/self/exe, and with it the program's folder,
# is the real file's. Made in the build tree, installed as links.
# qm_install_bin_link(NAME TARGET_FILE_NAME)
function(qm_install_bin_link name file)
  file(RELATIVE_PATH target /${CMAKE_INSTALL_BINDIR} /${QM_INSTALL_APPDIR}/${file})
  set(link ${CMAKE_BINARY_DIR}/bin-links/${name})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin-links)
  file(CREATE_LINK ${target} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
