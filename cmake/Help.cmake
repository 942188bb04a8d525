# The help pages compiled at build time by qhelpgenerator into a collection beside the
# executable: kestrum.qch (the pages, read only) and kestrum.qhc (the collection naming it).
find_package(Qt6 QUIET COMPONENTS ToolsTools)
if(TARGET Qt6::qhelpgenerator)
  set(KESTRUM_QHELPGENERATOR $<TARGET_FILE:Qt6::qhelpgenerator>)
else()
  find_program(KESTRUM_QHELPGENERATOR_PROGRAM qhelpgenerator
               HINTS /usr/lib/qt6/libexec /usr/lib/qt6/bin REQUIRED)
  set(KESTRUM_QHELPGENERATOR ${KESTRUM_QHELPGENERATOR_PROGRAM})
endif()

set(KESTRUM_HELP_DIR ${CMAKE_SOURCE_DIR}/help)
file(GLOB KESTRUM_HELP_PAGES CONFIGURE_DEPENDS ${KESTRUM_HELP_DIR}/pages/*)
set(KESTRUM_QCH ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/kestrum.qch)
set(KESTRUM_QHC ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/kestrum.qhc)
# The collection names its pages file relative to itself, so its project sits beside both.
add_custom_command(
  OUTPUT ${KESTRUM_QCH} ${KESTRUM_QHC}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
  COMMAND ${CMAKE_COMMAND} -E remove -f ${KESTRUM_QCH} ${KESTRUM_QHC}
  COMMAND ${KESTRUM_QHELPGENERATOR} ${KESTRUM_HELP_DIR}/kestrum.qhp -o ${KESTRUM_QCH}
  COMMAND ${CMAKE_COMMAND} -E copy ${KESTRUM_HELP_DIR}/kestrum.qhcp
          ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/kestrum.qhcp
  COMMAND ${KESTRUM_QHELPGENERATOR} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/kestrum.qhcp -o ${KESTRUM_QHC}
  DEPENDS ${KESTRUM_HELP_DIR}/kestrum.qhp ${KESTRUM_HELP_DIR}/kestrum.qhcp ${KESTRUM_HELP_PAGES}
  COMMENT "Compiling the help collection"
  VERBATIM)
add_custom_target(kestrum_help ALL DEPENDS ${KESTRUM_QCH} ${KESTRUM_QHC})
# Every program of the window (the tests too) finds the help beside itself.
add_dependencies(kgui kestrum_help)
