# TOMERACK_SANITIZE=address builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; TOMERACK_SANITIZE=thread with ThreadSanitizer.
if(TOMERACK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TOMERACK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TOMERACK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TOMERACK_SANITIZE must be empty, 'address' or 'thread'")
endif()
