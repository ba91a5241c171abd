# Run by the build: lays the package out with `cmake --install`, so the zip
# holds exactly what an install does, and writes the debug files and
# SHA256SUMS beside it.
#   -DBUILD_DIR=... -DPACKAGE_DIR=... -DNAME=Diskway-1.0-win64
# A DESTDIR in the builder's environment would send the install elsewhere.
unset(ENV{DESTDIR})
file(REMOVE_RECURSE ${PACKAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PACKAGE_DIR}/${NAME}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PACKAGE_DIR}/${NAME}-debug
                        --component Debug
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${NAME}.zip --format=zip ${NAME}
                WORKING_DIRECTORY ${PACKAGE_DIR} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${PACKAGE_DIR}/${NAME})

file(GLOB debug_files RELATIVE ${PACKAGE_DIR} ${PACKAGE_DIR}/${NAME}-debug/*)
set(sums "")
foreach(file ${NAME}.zip ${debug_files})
  file(SHA256 ${PACKAGE_DIR}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${PACKAGE_DIR}/SHA256SUMS "${sums}")
