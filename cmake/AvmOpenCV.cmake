# OpenCV from Debian's per-module -dev packages, which ship headers and
# libraries but no CMake package file (that lives in the much larger
# libopencv-dev). Defines imported targets opencv_core, opencv_imgproc and
# opencv_imgcodecs.
find_path(AVM_OPENCV_INCLUDE opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
# imgcodecs is optional: the arm64 cross build goes without it (its GDAL,
# OpenEXR and DICOM dependencies are a hundred libraries more).
if(CMAKE_CROSSCOMPILING)
  find_library(AVM_OPENCV_imgcodecs NAMES opencv_imgcodecs)
else()
  find_library(AVM_OPENCV_imgcodecs NAMES opencv_imgcodecs REQUIRED)
endif()
foreach(mod core imgproc imgcodecs calib3d)
  if(NOT AVM_OPENCV_${mod} AND mod STREQUAL "imgcodecs")
    continue()
  endif()
  find_library(AVM_OPENCV_${mod} NAMES opencv_${mod} REQUIRED)
  add_library(opencv_${mod} UNKNOWN IMPORTED)
  set_target_properties(opencv_${mod} PROPERTIES
    IMPORTED_LOCATION ${AVM_OPENCV_${mod}}
    INTERFACE_INCLUDE_DIRECTORIES ${AVM_OPENCV_INCLUDE})
endforeach()
