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

# The scenery files of the sample installation's add-on airport packages, written beside their
# manifests in data/simulator (ignored by git) by our own BGL writer, and the link of the package
# kept outside the Packages folder into its Community folder (git cannot hold links everywhere).
set(QUILLON_SAMPLE_PACKAGES ${CMAKE_SOURCE_DIR}/data/simulator/Packages)
set(quillon_sample_bgls
  ${QUILLON_SAMPLE_PACKAGES}/Official/OneStore/asobo-airport-eham-schiphol/scenery/EHAM-ap.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/polderworks-airport-ehrd-rotterdam/scenery/world/EHRD-ap.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/northwind-airport-ehle-lelystad/scenery/EHLE.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/backup-northwind-airport-ehle-lelystad/scenery/EHLE.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/meridian-airport-ehgg-groningen/scenery/EHGG-ap.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/skyforge-airport-eheh-eindhoven/scenery/objects.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/meridian-airfield-ehhv-hilversum/scenery/objects.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/northwind-aircraft-tugs/scenery/EHLE.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/northwind-airport-ehtx-texel/scenery/EHTX-airport.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/northwind-airport-ehtx-texel/scenery/test/EHTX.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/skyforge-airport-ehse-breda/scenery/airport-polygons.bgl
  ${CMAKE_SOURCE_DIR}/data/simulator/Addons/meridian-airport-ehmz-midden-zeeland/scenery/EHMZ-ap.bgl
  ${QUILLON_SAMPLE_PACKAGES}/Community/meridian-airport-ehmz-midden-zeeland)
# The tool leaves a file with the same bytes untouched (several build folders share them), so
# the stamp tells the build that they are written.
set(quillon_sample_stamp ${CMAKE_BINARY_DIR}/sample_scenery.stamp)
add_custom_command(
  OUTPUT ${quillon_sample_stamp}
  BYPRODUCTS ${quillon_sample_bgls}
  COMMAND quillon_sample_bgls ${QUILLON_SAMPLE_PACKAGES}
  COMMAND ${CMAKE_COMMAND} -E touch ${quillon_sample_stamp}
  DEPENDS quillon_sample_bgls
  COMMENT "Writing the sample installation's scenery files"
  VERBATIM)
add_custom_target(quillon_sample_scenery ALL DEPENDS ${quillon_sample_stamp})

# Tests and benchmarks read the encrypted data and the sample installation, also when only they
# are built (--target test_x):
# once every target exists, make each of them wait for the data.
function(quillon_data_before_programs)
  get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    if(t MATCHES "^(test_|bench_|fuzz_)" OR t STREQUAL "quillon")
      add_dependencies(${t} quillon_data quillon_sample_scenery)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quillon_data_before_programs)
