tovrak_add_fuzzer(fuzz_ksf_reader ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_ksf_reader.cpp tovrak_firmware)
tovrak_add_fuzzer(fuzz_translations ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_translations.cpp tovrak_text)
tovrak_add_fuzzer(fuzz_minisig ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_minisig.cpp tovrak_firmware)
