# Run by CPack after it has installed each component into its staging folder
# and before it makes the packages: adds what Debian expects of every package.
#   usr/share/doc/<package>/copyright and changelog.gz
#   man pages compressed with gzip -9n, whoever installed them
#   usr/share/lintian/overrides/<package> from cmake/debian/<package>/
#   no cache that a trigger of another package rebuilds
find_program(PLIX_GZIP gzip REQUIRED)

# gzip -9n: maximal compression and no time stamp, so builds repeat.
function(plix_gzip file)
  execute_process(COMMAND ${PLIX_GZIP} -9nf "${file}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endfunction()

foreach(package IN LISTS CPACK_PLIX_PACKAGES)
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${package}")
  if(NOT IS_DIRECTORY "${root}")
    continue()
  endif()
  set(usr "${root}${CPACK_PACKAGING_INSTALL_PREFIX}")

  file(GLOB_RECURSE pages "${root}/*/share/man/*")
  foreach(page IN LISTS pages)
    if(NOT IS_SYMLINK "${page}" AND page MATCHES "/man[1-9][^/]*/[^/]+\\.[1-9][a-z]*$")
      plix_gzip("${page}")
    endif()
  endforeach()

  # Caches that Debian's triggers rebuild on the target belong to the packages
  # that own them; an install step that wrote one must not ship it.
  file(GLOB_RECURSE caches
    "${usr}/lib/*/loaders.cache"
    "${usr}/share/icons/*/icon-theme.cache"
    "${usr}/share/applications/mimeinfo.cache")
  file(GLOB mime_outputs LIST_DIRECTORIES true "${usr}/share/mime/*")
  list(FILTER mime_outputs EXCLUDE REGEX "/share/mime/packages$")
  foreach(generated IN LISTS caches mime_outputs)
    message(STATUS "not packaged, rebuilt by a trigger: ${generated}")
    file(REMOVE_RECURSE "${generated}")
  endforeach()

  set(doc "${usr}/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(COPY_FILE "${CPACK_PLIX_DEBIAN_DIR}/copyright" "${doc}/copyright")
  file(COPY_FILE "${CPACK_PLIX_CHANGELOG}" "${doc}/changelog")
  plix_gzip("${doc}/changelog")

  if(EXISTS "${CPACK_PLIX_DEBIAN_DIR}/${package}/lintian-overrides")
    file(MAKE_DIRECTORY "${usr}/share/lintian/overrides")
    file(COPY_FILE "${CPACK_PLIX_DEBIAN_DIR}/${package}/lintian-overrides"
      "${usr}/share/lintian/overrides/${package}")
  endif()

  # Files as root would create them, whatever the builder's umask.
  file(GLOB_RECURSE entries LIST_DIRECTORIES true "${root}/*")
  foreach(entry IN LISTS entries)
    if(IS_SYMLINK "${entry}")
      continue()
    elseif(IS_DIRECTORY "${entry}")
      file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
endforeach()
