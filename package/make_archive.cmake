# cmake -D BUILD_DIR=… -D CONFIG=… -D STAGE=… -D ARCHIVE=… -P make_archive.cmake
#
# Installs the build tree into a fresh staging folder and zips what it holds. The entries are the
# installed files in sorted order (no folder entries: the folders follow from the names), with
# their Unix permission bits and UTF-8 names flagged as such, which the names of 皮肤图片 need.
foreach(var BUILD_DIR STAGE ARCHIVE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_archive.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
set(config_args "")
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
# A DESTDIR of the caller's environment would move the staging folder elsewhere.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DESTDIR
          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE} ${config_args}
  OUTPUT_QUIET
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Installing into ${STAGE} failed (${result})")
endif()

file(GLOB_RECURSE files RELATIVE ${STAGE} LIST_DIRECTORIES false ${STAGE}/*)
list(SORT files)
if(NOT files)
  message(FATAL_ERROR "Nothing was installed into ${STAGE}")
endif()

# The archive writer reads and flags the names as UTF-8 only under a UTF-8 locale, whatever
# locale the build runs in.
set(partial ${ARCHIVE}.partial)
file(REMOVE ${partial})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8
          ${CMAKE_COMMAND} -E tar cf ${partial} --format=zip -- ${files}
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${partial})
  message(FATAL_ERROR "Zipping ${STAGE} failed (${result})")
endif()
file(RENAME ${partial} ${ARCHIVE})
