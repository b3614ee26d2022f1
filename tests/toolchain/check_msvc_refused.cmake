# cmake -DSOURCE=... -DBINARY=... -DGENERATOR=... -P check_msvc_refused.cmake: configuring
# the tree with MSVC must stop and name the build that Windows 98, ME and 2000 load.
file(REMOVE_RECURSE ${BINARY})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G ${GENERATOR}
                        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/msvc-stand-in.cmake
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX REPLACE "[ \n]+" " " flat "${output}")
if(status EQUAL 0 OR NOT flat MATCHES
   "98, ME and 2000, which no available MSVC builds for.*MinGW-w64: cmake --preset windows")
  message(FATAL_ERROR "configuring with MSVC did not stop as it should (status ${status}):\n"
                      "${output}")
endif()
message(STATUS "configuring with MSVC stops and names the MinGW-w64 build")
