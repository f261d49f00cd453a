# The encryption tool for the data files that come with the program.
add_executable(quillon_encrypt ${CMAKE_SOURCE_DIR}/tools/encrypt.cpp)
target_link_libraries(quillon_encrypt PRIVATE ${QUILLON_WHOLE})
