# The encrypted reference data in <build>/input, made from the plain XML sources in
# data/reference with the encryption tool.
set(QUILLON_INPUT_DIR ${CMAKE_BINARY_DIR}/input)
set(quillon_data_outputs "")
foreach(name dbase airports AIG-regcodes)
  set(src ${CMAKE_SOURCE_DIR}/data/reference/${name}.xml)
  set(dst ${QUILLON_INPUT_DIR}/${name}.enc)
  add_custom_command(
    OUTPUT ${dst}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLON_INPUT_DIR}
    COMMAND quillon_encrypt ${src} ${dst}
    DEPENDS quillon_encrypt ${src}
    COMMENT "Encrypting ${name}.xml"
    VERBATIM)
  list(APPEND quillon_data_outputs ${dst})
endforeach()
add_custom_target(quillon_data ALL DEPENDS ${quillon_data_outputs})

# Tests and benchmarks read the encrypted data, also when only they are built (--target test_x):
# once every target exists, make each of them wait for the data.
function(quillon_data_before_programs)
  get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    if(t MATCHES "^(test_|bench_|fuzz_)" OR t STREQUAL "quillon")
      add_dependencies(${t} quillon_data)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quillon_data_before_programs)
