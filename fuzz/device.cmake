tovrak_add_fuzzer(fuzz_device ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_device.cpp tovrak_device)
tovrak_add_fuzzer(fuzz_device_scenario ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_device_scenario.cpp tovrak_device)
