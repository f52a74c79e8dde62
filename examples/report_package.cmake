# Says where the example package is (cmake -DSTAGE=dir -P report_package.cmake).
file(GLOB packages ${STAGE}/out/*.exe)
if(NOT packages)
  message(FATAL_ERROR "No package in ${STAGE}/out; see ${STAGE}/logfile.txt")
endif()
foreach(package ${packages})
  message(STATUS "Example package: ${package}")
endforeach()
