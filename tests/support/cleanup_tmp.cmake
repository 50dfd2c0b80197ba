# Removes the folders tests left in the test-tmp folder TMP (cmake -DTMP=...
# -P cleanup_tmp.cmake), except those of a test process still running. Each
# folder is named quorlin-test-PID-XXXXXX after the test process that made
# it: another CTest run in the same build tree, or a test started by hand,
# may still be using its folders when this run ends, and removing them would
# fail that test halfway.
file(GLOB entries LIST_DIRECTORIES true "${TMP}/quorlin-test-*")
foreach(entry IN LISTS entries)
  get_filename_component(name "${entry}" NAME)
  # Two steps: the match sets CMAKE_MATCH_1 only after ${} in the same
  # condition has been expanded.
  if(name MATCHES "^quorlin-test-([0-9]+)-")
    if(EXISTS "/proc/${CMAKE_MATCH_1}")
      continue()
    endif()
  endif()
  file(REMOVE_RECURSE "${entry}")
endforeach()
