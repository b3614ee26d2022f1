# A toolchain that CMake takes for MSVC 19.40 without running it: nothing is compiled, the
# tree is only configured.
set(CMAKE_SYSTEM_NAME Windows)
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER /bin/false)
  set(CMAKE_${lang}_COMPILER_ID_RUN TRUE)
  set(CMAKE_${lang}_COMPILER_ID MSVC)
  set(CMAKE_${lang}_COMPILER_VERSION 19.40.33811)
  set(CMAKE_${lang}_COMPILER_FORCED TRUE)
endforeach()
