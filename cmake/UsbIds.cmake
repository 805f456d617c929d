# Normalises the three USB id cache variables to 0xHHHH and hands them to the code.
function(tovrak_normalise_usb_id var)
    string(STRIP "${${var}}" text)
    string(TOLOWER "${text}" text)
    if(text MATCHES "^0x([0-9a-f]+)$")
        set(hex "${CMAKE_MATCH_1}")
    elseif(text MATCHES "^[0-9]+$" AND NOT text MATCHES "[a-f]")
        # A plain decimal number.
        math(EXPR value "${text}" OUTPUT_FORMAT HEXADECIMAL)
        string(REGEX REPLACE "^0x" "" hex "${value}")
    elseif(text MATCHES "^[0-9a-f]+$")
        set(hex "${text}")
    else()
        message(FATAL_ERROR "${var} = '${${var}}' is neither a hex string nor a number")
    endif()
    math(EXPR value "0x${hex}")
    if(value GREATER 65535)
        message(FATAL_ERROR "${var} = '${${var}}' does not fit 16 bits")
    endif()
    math(EXPR padded "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" hex "${padded}")
    string(LENGTH "${hex}" len)
    while(len LESS 4)
        set(hex "0${hex}")
        string(LENGTH "${hex}" len)
    endwhile()
    set(${var}_HEX "${hex}" PARENT_SCOPE)
endfunction()

tovrak_normalise_usb_id(KESTRANE_USB_VENDOR_ID)
tovrak_normalise_usb_id(PARTNER_USB_VENDOR_ID)
tovrak_normalise_usb_id(PARTNER_USB_PRODUCT_ID)

add_library(tovrak_usb_ids INTERFACE)
target_compile_definitions(tovrak_usb_ids INTERFACE
    KESTRANE_USB_VENDOR_ID=0x${KESTRANE_USB_VENDOR_ID_HEX}
    PARTNER_USB_VENDOR_ID=0x${PARTNER_USB_VENDOR_ID_HEX}
    PARTNER_USB_PRODUCT_ID=0x${PARTNER_USB_PRODUCT_ID_HEX})
