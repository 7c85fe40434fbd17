# ORVEX_SANITIZE=address builds everything with AddressSanitizer and UndefinedBehaviorSanitizer;
# ORVEX_SANITIZE=thread with ThreadSanitizer.
if(ORVEX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(ORVEX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ORVEX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORVEX_SANITIZE must be empty, 'address' or 'thread'")
endif()
