# The header picture's decoder: the picture as shipped beside the programs,
# damaged copies of it, and pictures made on the spot with the picture tool's
# own drawing and JPEG writer. Included from this folder's CMakeLists.txt.
if(NOT TARGET Qt6::Gui)
  return()
endif()
find_package(JPEG REQUIRED)
set(r310_picture_tool ${PROJECT_SOURCE_DIR}/tools/headerpicture)
set(r310_jpeg_test_sources
  ${CMAKE_CURRENT_LIST_DIR}/jpeg_picture_test.cpp
  ${r310_picture_tool}/InstrumentDrawing.cpp
  ${r310_picture_tool}/JpegWriter.cpp)
if(TARGET r310_header_picture)
  # The window library carries the decoder and places the picture.
  r310_add_test(NAME jpeg_picture_test SOURCES ${r310_jpeg_test_sources}
    LIBS r310_ui JPEG::JPEG Qt6::Gui LABELS core)
  add_dependencies(jpeg_picture_test r310_header_picture)
  get_property(r310_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  set(r310_tested_picture "${CMAKE_BINARY_DIR}$<$<BOOL:${r310_multi_config}>:/$<CONFIG>>/R310.jpg")
else()
  r310_add_test(NAME jpeg_picture_test
    SOURCES ${r310_jpeg_test_sources} ${PROJECT_SOURCE_DIR}/src/ui/JpegPicture.cpp
    LIBS JPEG::JPEG Qt6::Gui LABELS core)
  set(r310_tested_picture ${PROJECT_SOURCE_DIR}/src/ui/resources/R310.jpg)
endif()
target_include_directories(jpeg_picture_test PRIVATE ${PROJECT_SOURCE_DIR}/src/ui ${r310_picture_tool})
target_compile_definitions(jpeg_picture_test PRIVATE R310_HEADER_PICTURE="${r310_tested_picture}")
