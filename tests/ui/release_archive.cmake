# Unpacks the release archive ARCHIVE into DEST for the end-to-end run, after
# checking that it is newer than the built EXE, that its checksum file
# matches, and that it holds exactly the shipped files.
if("${EXE}" IS_NEWER_THAN "${ARCHIVE}")
  message(FATAL_ERROR "${ARCHIVE} is missing or older than ${EXE}: make it with --target package")
endif()
file(SHA256 ${ARCHIVE} hash)
get_filename_component(name ${ARCHIVE} NAME)
file(READ ${ARCHIVE}.sha256 listed)
if(NOT listed STREQUAL "${hash}  ${name}\n")
  message(FATAL_ERROR "checksum file: ${listed}")
endif()
file(REMOVE_RECURSE ${DEST})
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${DEST})
file(GLOB_RECURSE found LIST_DIRECTORIES true RELATIVE ${DEST} ${DEST}/*)
file(READ ${DEST}/README.txt bom LIMIT 3 HEX)
if(NOT found STREQUAL "README.txt;qrnl.exe" OR NOT bom STREQUAL "efbbbf")
  message(FATAL_ERROR "the archive holds ${found}; the read-me starts with ${bom}")
endif()
