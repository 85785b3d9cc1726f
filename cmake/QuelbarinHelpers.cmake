# Project helpers: one library per source folder, one test executable per subsystem.

# qd_export_headers(<target> <PUBLIC|INTERFACE>): gives the target an include root that holds
# only the folder it is defined in (a link <build>/include/<target>/<folder> to it), so that its
# users write "folder/Header.h" and a layer sees the headers of the layers it depends on, never
# those of a layer above it.
function(qd_export_headers target scope)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# qd_add_library(<name> SOURCES <files...> [PUBLIC_DEPS <targets...>] [PRIVATE_DEPS <targets...>])
function(qd_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qd_add_library(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  qd_export_headers(${name} PUBLIC)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# qd_add_test(<name> [GUI] SOURCES <files...> DEPS <targets...> LABELS <labels...>)
# GUI: the executable runs with one offscreen QApplication (tests/GuiTestMain.cpp) at scale 1.
function(qd_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "GUI" "" "SOURCES;DEPS;LABELS")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qd_add_test(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(ARG_GUI)
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/GuiTestMain.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Widgets Qt6::Test GTest::gtest
                          Threads::Threads)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  else()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main
                          Threads::Threads)
  endif()
  # Tests reach their own helpers ("tests/...") and any layer they check.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  if(ARG_GUI)
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=1;QD_WAVE_DEVICE=null")
  endif()
endfunction()

# qd_use_qt(<target>): the target's Q_OBJECT classes are run through moc, its .qrc files through
# rcc.
function(qd_use_qt target)
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
endfunction()
