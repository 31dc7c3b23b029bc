# After CPack has made its packages: writes SHA256SUMS in the package folder,
# in the format of sha256sum, for the packages made now and those already
# there (the zip and the deb come from two cpack runs). Runs before CPack
# copies the new packages into the folder, so they are hashed where they are.
set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(names)
foreach(package ${CPACK_PACKAGE_FILES})
  get_filename_component(name ${package} NAME)
  file(SHA256 ${package} hash)
  set(hash_of_${name} ${hash})
  list(APPEND names ${name})
endforeach()

# The Python source package and wheels, the Windows installer and lzs.html,
# made by the build rather than by CPack, join them here.
foreach(made ${CPACK_LZS_PYTHON_PACKAGES} ${CPACK_LZS_MSI} ${CPACK_LZS_WEB_PAGE})
  if(EXISTS ${made})
    file(COPY ${made} DESTINATION ${CPACK_PACKAGE_DIRECTORY})
    get_filename_component(name ${made} NAME)
    file(SHA256 ${made} hash_of_${name})
    list(APPEND names ${name})
  endif()
endforeach()

# Earlier lines stay for packages still in the folder and not made again now.
if(EXISTS ${sums_file})
  file(STRINGS ${sums_file} lines)
  foreach(line ${lines})
    if(line MATCHES "^([0-9a-f]+)  (.+)$")
      set(name ${CMAKE_MATCH_2})
      if(NOT DEFINED hash_of_${name} AND EXISTS ${CPACK_PACKAGE_DIRECTORY}/${name})
        set(hash_of_${name} ${CMAKE_MATCH_1})
        list(APPEND names ${name})
      endif()
    endif()
  endforeach()
endif()

list(SORT names)
set(sums "")
foreach(name ${names})
  string(APPEND sums "${hash_of_${name}}  ${name}\n")
endforeach()
file(WRITE ${sums_file} "${sums}")
