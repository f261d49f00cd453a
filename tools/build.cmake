# The encryption tool for the data files that come with the program.
add_executable(quillon_encrypt ${CMAKE_SOURCE_DIR}/tools/encrypt.cpp)
target_link_libraries(quillon_encrypt PRIVATE quillon_core)

# Writes the BGL files of the sample installation's add-on airport packages.
add_executable(quillon_sample_bgls ${CMAKE_SOURCE_DIR}/tools/sample_bgls.cpp)
target_include_directories(quillon_sample_bgls PRIVATE ${CMAKE_SOURCE_DIR})
