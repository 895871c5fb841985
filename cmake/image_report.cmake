# Size report of the target image and the checks that keep it honest:
# vector table at the start of flash, no heap, no exceptions, no double precision, nothing placed
# in the configuration page, fits 126 KiB flash / 36 KiB RAM; the whole image under 64 KiB of
# flash, and neither flash nor RAM more than 2 KiB above the checked-in budget (BUDGET).
set(flash_limit 129024)     # 128 KiB less the 2 KiB configuration page
set(ram_limit 36864)
set(config_page 0x0801F800)
math(EXPR config_page_dec "${config_page}")

execute_process(COMMAND ${SIZE} -A -d ${ELF} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "size failed on ${ELF}")
endif()
string(REPLACE "\n" ";" lines "${sections}")
set(flash_used 0)
set(ram_used 0)
set(vectors_at_start FALSE)
foreach(line ${lines})
  if(line MATCHES "^([.A-Za-z0-9_]+)[ \t]+([0-9]+)[ \t]+([0-9]+)")
    set(name ${CMAKE_MATCH_1})
    set(sz ${CMAKE_MATCH_2})
    set(addr ${CMAKE_MATCH_3})
    if(sz EQUAL 0)
      continue()
    endif()
    math(EXPR end "${addr} + ${sz}")
    if(name STREQUAL ".isr_vector" AND addr EQUAL 134217728)
      set(vectors_at_start TRUE)  # the core boots from the table at 0x08000000
    endif()
    if(addr GREATER_EQUAL 134217728 AND addr LESS 268435456)
      # Flash-resident section: must end below the configuration page.
      math(EXPR flash_used "${flash_used} + ${sz}")
      if(end GREATER config_page_dec)
        message(FATAL_ERROR "section ${name} reaches into the configuration page")
      endif()
    elseif(addr GREATER_EQUAL 536870912 AND addr LESS 805306368)
      math(EXPR ram_used "${ram_used} + ${sz}")
      if(name STREQUAL ".data")
        math(EXPR flash_used "${flash_used} + ${sz}")  # its initial values live in flash
      endif()
    endif()
  endif()
endforeach()

if(NOT vectors_at_start)
  message(FATAL_ERROR "no vector table (.isr_vector) at 0x08000000")
endif()

execute_process(COMMAND ${NM} -C ${ELF} OUTPUT_VARIABLE symbols)
foreach(bad "malloc" "_malloc_r" "_sbrk" "__cxa_throw" "__cxa_allocate_exception" "operator new" "__gxx_personality_v0")
  string(REGEX MATCH "[ \t][TtWw] ${bad}[ (\n]" hit "${symbols}\n")
  if(hit)
    message(FATAL_ERROR "image uses '${bad}': no heap and no exceptions on the target")
  endif()
endforeach()

# No double precision on the chip: every float is single precision, and the library's 64-bit
# integer conversions are replaced by our own (FloatExact). A double-precision routine of the
# run-time library (arithmetic, comparison or conversion) means one crept back in.
execute_process(COMMAND ${NM} ${ELF} OUTPUT_VARIABLE raw_symbols)
string(REGEX MATCHALL "[ \t][TtWw] (__aeabi_(c?d[a-z0-9]*|[a-z0-9]+2d)|__[a-z]+df[0-9]|__[a-z]+df|__[a-z]+sfdf2|__[a-z]+dfsf2)\n"
       double_hits "${raw_symbols}\n")
if(double_hits)
  string(REGEX REPLACE "[ \t\n]+[TtWw] " " " double_names "${double_hits}")
  message(FATAL_ERROR "image uses double-precision routines:${double_names}")
endif()

math(EXPR flash_pct "${flash_used} * 100 / ${flash_limit}")
math(EXPR ram_pct "${ram_used} * 100 / ${ram_limit}")
if(NOT NAME)
  set(NAME orvane-node)
endif()
message("${NAME}: flash ${flash_used} / ${flash_limit} bytes (${flash_pct}%), RAM ${ram_used} / ${ram_limit} bytes (${ram_pct}%, stack included)")
if(flash_used GREATER flash_limit OR ram_used GREATER ram_limit)
  message(FATAL_ERROR "image does not fit the chip")
endif()

# The node's promise: everything it does in 64 KiB of flash.
if(NOT flash_used LESS 65536)
  message(FATAL_ERROR "image is ${flash_used} bytes of flash: it must stay under 64 KiB (65536)")
endif()
# The budget: growth is a decision, not an accident. More than 2 KiB above it fails until the
# budget is raised on purpose (with the reason in the commit).
if(BUDGET)
  include(${BUDGET})
  set(budget_slack 2048)
  foreach(kind flash ram)
    math(EXPR over "${${kind}_used} - ${image_budget_${kind}}")
    if(over GREATER budget_slack)
      message(FATAL_ERROR "${kind} ${${kind}_used} bytes is ${over} bytes above the budget of "
                          "${image_budget_${kind}} in ${BUDGET} (allowed: ${budget_slack}); raise the budget on purpose")
    endif()
  endforeach()
  message("${NAME}: budget flash ${image_budget_flash}, RAM ${image_budget_ram} (+${budget_slack} allowed)")
endif()
