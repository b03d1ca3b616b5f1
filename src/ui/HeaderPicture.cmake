# The header picture: decoded with libjpeg by the window library and shipped
# beside the programs as R310.jpg. Included from this folder's CMakeLists.txt
# after r310_ui is defined.
find_package(JPEG REQUIRED)
target_sources(r310_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/JpegPicture.h
  ${CMAKE_CURRENT_LIST_DIR}/JpegPicture.cpp
)
target_link_libraries(r310_ui PRIVATE JPEG::JPEG)

# Copied at build time, again whenever the committed picture changes. Programs
# of a multi-configuration build sit in one folder per configuration.
get_property(r310_multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
set(R310_HEADER_PICTURE_SHIPPED
  "${CMAKE_BINARY_DIR}$<$<BOOL:${r310_multi_config}>:/$<CONFIG>>/R310.jpg")
add_custom_command(
  OUTPUT ${R310_HEADER_PICTURE_SHIPPED}
  COMMAND ${CMAKE_COMMAND} -E copy
          ${CMAKE_CURRENT_LIST_DIR}/resources/R310.jpg ${R310_HEADER_PICTURE_SHIPPED}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/resources/R310.jpg
  COMMENT "Placing the header picture R310.jpg beside the programs"
  VERBATIM)
add_custom_target(r310_header_picture DEPENDS ${R310_HEADER_PICTURE_SHIPPED})
add_dependencies(r310_ui r310_header_picture)

# The tool that draws the picture; built only when asked for.
add_subdirectory(${CMAKE_SOURCE_DIR}/tools/headerpicture
                 ${CMAKE_BINARY_DIR}/tools/headerpicture EXCLUDE_FROM_ALL)
