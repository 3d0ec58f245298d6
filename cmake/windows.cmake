# The Windows build, included by CMakeLists.txt when cross-building with
# cmake/mingw-w64.cmake: takto.exe on the win32 backend, and the tests that run
# under Wine (the portable suite as Windows builds it, and the backend's own).
takto_library(takto_song src/song takto_host)
target_sources(takto_song PRIVATE ${sjis_table})
takto_library(takto_player src/player takto_song)
takto_library(takto_editor src/editor takto_player)
takto_library(takto_screens src/screens takto_editor)
takto_library(takto_app src/app takto_screens)

set(TAKTO_WIN32_SYSTEM_LIBS winmm comdlg32 shell32 ole32 gdi32 user32)
takto_backend(takto_win32 src/host/win32 takto_host ${TAKTO_WIN32_SYSTEM_LIBS})
target_compile_definitions(takto_win32 PRIVATE UNICODE _UNICODE)

# The icon is drawn by a script, so the picture lives in the repository as text.
set(icon_file ${CMAKE_BINARY_DIR}/generated/takto.ico)
add_custom_command(OUTPUT ${icon_file}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND ${TAKTO_PYTHON3} ${CMAKE_SOURCE_DIR}/src/host/win32/make_icon.py ${icon_file}
  DEPENDS ${CMAKE_SOURCE_DIR}/src/host/win32/make_icon.py
  COMMENT "Drawing the program icon")
set(icon_rc ${CMAKE_BINARY_DIR}/generated/takto.rc)
file(WRITE ${icon_rc} "IDI_ICON1 ICON \"${icon_file}\"\n")
set_source_files_properties(${icon_rc} PROPERTIES OBJECT_DEPENDS ${icon_file})
enable_language(RC)

add_executable(takto WIN32 ${CMAKE_SOURCE_DIR}/windows/main.cpp ${icon_rc})
target_link_libraries(takto PRIVATE takto_app takto_win32)

if(TAKTO_TESTS)
  # GoogleTest from Debian's source package, built by the same compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  # The portable suite as one program, so that Wine starts once for it.
  set(portable_tests)
  foreach(sub IN ITEMS song player host)
    file(GLOB tsrcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${sub}/*.cpp)
    list(APPEND portable_tests ${tsrcs})
  endforeach()
  add_executable(tests_portable ${portable_tests})
  target_include_directories(tests_portable PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tests_portable PRIVATE takto_player takto_headless gtest_main)
  # GCC 12 at -O3 warns of overlapping copies inside std::string that cannot happen.
  target_compile_options(tests_portable PRIVATE -Wno-restrict)

  # The backend's own tests (its multimedia timer) on the real system calls.
  file(GLOB win32_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
  if(win32_tests)
    add_executable(tests_win32 ${win32_tests})
    target_include_directories(tests_win32 PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(tests_win32 PRIVATE takto_win32 gtest_main)
  endif()
endif()
