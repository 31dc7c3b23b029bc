# After CPack has made its packages, before it copies them into its own
# folder: gathers the release's files in CPACK_LZS_PACKAGES_DIR (the release
# build's packages/), the packages made now and the files the build made
# beside them (CPACK_LZS_MADE_FILES: the Windows installer, the Python
# source package and wheels, lzs.html and the npm package), and writes SHA256SUMS there, in the format of sha256sum,
# for every file in the folder (the zip and the debs come from two cpack
# runs). CPack's work folder, _CPack_Packages, stays in the build folder.
set(dir ${CPACK_LZS_PACKAGES_DIR})
file(MAKE_DIRECTORY ${dir})
foreach(file ${CPACK_PACKAGE_FILES} ${CPACK_LZS_MADE_FILES})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file}, which the release ships, was not made")
  endif()
  file(COPY ${file} DESTINATION ${dir})
endforeach()

file(GLOB names LIST_DIRECTORIES false RELATIVE ${dir} ${dir}/*)
list(REMOVE_ITEM names SHA256SUMS)
list(SORT names)
set(sums "")
foreach(name ${names})
  file(SHA256 ${dir}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${dir}/SHA256SUMS "${sums}")
