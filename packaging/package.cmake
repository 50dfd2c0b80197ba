# What a release installs beside the programs, and the Debian package that
# carries it all. Included from the top-level CMakeLists.txt.

# The licence, in the machine-readable form Debian reads: LICENSE is the one
# copy of its text, and every installed copy is made from it.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licenceText)
string(REGEX REPLACE "\n+$" "" licenceText "${licenceText}")
# The licence's body: from its permission sentence on, each line indented
# by one space and an empty line written as " ." as the format asks.
string(FIND "${licenceText}" "Permission is hereby granted" bodyStart)
string(SUBSTRING "${licenceText}" ${bodyStart} -1 licenceBody)
string(REPLACE "\n\n" "\n.\n" licenceBody "${licenceBody}")
string(REPLACE "\n" "\n " licenceBody "${licenceBody}")
file(WRITE ${CMAKE_BINARY_DIR}/doc/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: quorlin

Files: *
Copyright: 2026 The quorlin authors
License: Expat
 ${licenceBody}
")
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)

# Manual pages and the changelog are installed compressed, as Debian keeps
# them; -n leaves out the name and time stamp so that a rebuild gives the
# same bytes.
set(compressed)
foreach(page ${QUORLIN_MAN_PAGES})
  list(APPEND compressed ${CMAKE_BINARY_DIR}/man/${page}.1)
endforeach()
list(APPEND compressed ${CMAKE_BINARY_DIR}/doc/changelog)
set(gzipped)
foreach(file ${compressed})
  add_custom_command(OUTPUT ${file}.gz
    COMMAND gzip -9n -c ${file} > ${file}.gz
    DEPENDS ${file}
    COMMENT "Compressing ${file}")
  list(APPEND gzipped ${file}.gz)
endforeach()
add_custom_target(docs ALL DEPENDS ${gzipped})

foreach(page ${QUORLIN_MAN_PAGES})
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/sample/itemloc.dat examples/sample/item.dat
              examples/sample/entries.sjis.txt examples/sample/entries.utf8.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian package: cpack -G DEB --config BUILD/CPackConfig.cmake writes
# BUILD/quorlin_VERSION_ARCH.deb.
set(CPACK_PACKAGE_NAME quorlin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "The quorlin authors <quorlin@example.org>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print, pack and unpack stores of compressed text items")
# CPack puts the summary above it as the short description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quorlin reads a store of compressed text items (itemloc.dat, item.dat)
and prints each item's text, one line per item, escaping bytes that do not
print. Items are sliding-window streams whose literals and match lengths
use an adaptive Huffman code, with a preset dictionary of Japanese
(Shift-JIS) markup; the -v, -vv and -d traces show every symbol, exchange
and tree.
.
quorlin-pack writes such stores from text files, and quorlin-unpack gives
the items' exact bytes back, lists a store and tests it.")
# Directories the package creates: rwxr-xr-x whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
