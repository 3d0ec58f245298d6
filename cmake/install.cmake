# What `cmake --install` puts under the prefix (default /usr/local): the two
# programs, the desktop entry, the icon in the sizes of the icon theme, the
# song type for shared-mime-info and the manual pages. The programs find
# their data as when run from the build: the fonts are built in, the
# SoundFont is the system's.
include(GNUInstallDirs)
set(data_dir ${CMAKE_BINARY_DIR}/generated/install)
set(data_files)

# The icon from the picture takto.exe carries.
set(TAKTO_ICON_SIZES 32 48 64 128 256)
foreach(size IN LISTS TAKTO_ICON_SIZES)
  set(png ${data_dir}/icon-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${data_dir}
    COMMAND ${TAKTO_PYTHON3} ${CMAKE_SOURCE_DIR}/src/host/win32/make_icon.py --png ${size} ${png}
    DEPENDS ${CMAKE_SOURCE_DIR}/src/host/win32/make_icon.py
    COMMENT "Drawing the ${size} pixel icon")
  list(APPEND data_files ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME takto.png)
endforeach()

# The manual pages from each program's --help.
foreach(program takto takto-cli)
  set(other takto-cli)
  if(program STREQUAL "takto-cli")
    set(other takto)
  endif()
  set(page ${data_dir}/${program}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${data_dir}
    COMMAND ${TAKTO_PYTHON3} ${CMAKE_SOURCE_DIR}/cmake/make_man.py $<TARGET_FILE:${program}> ${page} ${other}
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/cmake/make_man.py
    COMMENT "Writing the manual page ${program}(1)")
  list(APPEND data_files ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(takto-install-data ALL DEPENDS ${data_files})

install(TARGETS takto takto-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/desktop/takto.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/takto.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# The desktop learns the song type from the database built from the packages;
# a staged install (DESTDIR) leaves that to the system it lands on.
install(CODE "
  find_program(update_mime update-mime-database)
  if(update_mime AND NOT \"\$ENV{DESTDIR}\")
    execute_process(COMMAND \${update_mime} \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/mime\"
                    OUTPUT_QUIET ERROR_QUIET)
  endif()")
