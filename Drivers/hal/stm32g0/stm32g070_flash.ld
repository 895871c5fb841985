/* Memory layout of the STM32G070 (128 KiB flash, 36 KiB RAM): the program in flash below the
   configuration page, which stays outside the image; data, bss and a checked stack reservation
   in RAM with the stack at its top. No heap: nothing here feeds an allocator. */

ENTRY(Reset_Handler)

/* Stack the program is guaranteed: .data + .bss + this must fit in RAM, or the link fails. */
_Min_Stack_Size = 0x1000;

MEMORY
{
  FLASH  (rx)  : ORIGIN = 0x08000000, LENGTH = 126K
  CONFIG (r)   : ORIGIN = 0x0801F800, LENGTH = 2K   /* configuration page (page 63) */
  RAM    (rwx) : ORIGIN = 0x20000000, LENGTH = 36K
}

_estack = ORIGIN(RAM) + LENGTH(RAM);
__device_config_flash_start = ORIGIN(CONFIG);
__device_config_flash_end = ORIGIN(CONFIG) + LENGTH(CONFIG);

SECTIONS
{
  .isr_vector :
  {
    . = ALIGN(4);
    KEEP(*(.isr_vector))
    . = ALIGN(4);
  } > FLASH

  .text :
  {
    . = ALIGN(4);
    *(.text)
    *(.text*)
    *(.glue_7)
    *(.glue_7t)
    *(.eh_frame)
    KEEP(*(.init))
    KEEP(*(.fini))
    . = ALIGN(4);
  } > FLASH

  .rodata :
  {
    . = ALIGN(4);
    *(.rodata)
    *(.rodata*)
    . = ALIGN(4);
  } > FLASH

  /* Unwind tables some library objects still carry; nothing unwinds (no exceptions). */
  .ARM.extab : { *(.ARM.extab* .gnu.linkonce.armextab.*) } > FLASH
  .ARM.exidx :
  {
    __exidx_start = .;
    *(.ARM.exidx* .gnu.linkonce.armexidx.*)
    __exidx_end = .;
  } > FLASH

  /* Static constructors, run by the reset handler. */
  .preinit_array :
  {
    . = ALIGN(4);
    __preinit_array_start = .;
    KEEP(*(.preinit_array*))
    __preinit_array_end = .;
  } > FLASH
  .init_array :
  {
    . = ALIGN(4);
    __init_array_start = .;
    KEEP(*(SORT(.init_array.*)))
    KEEP(*(.init_array*))
    __init_array_end = .;
  } > FLASH
  /* The program never exits, so static destructors are not kept. */
  /DISCARD/ : { *(.fini_array*) }

  _sidata = LOADADDR(.data);
  .data :
  {
    . = ALIGN(4);
    _sdata = .;
    *(.data)
    *(.data*)
    . = ALIGN(4);
    _edata = .;
  } > RAM AT> FLASH

  .bss (NOLOAD) :
  {
    . = ALIGN(4);
    _sbss = .;
    *(.bss)
    *(.bss*)
    *(COMMON)
    . = ALIGN(4);
    _ebss = .;
  } > RAM

  /* Reserved for the stack, which grows down from _estack: the RAM region overflows at link
     time if this does not fit. */
  ._stack (NOLOAD) :
  {
    . = ALIGN(8);
    __stack_reserve_start = .;
    . = . + _Min_Stack_Size;
    . = ALIGN(8);
    __stack_reserve_end = .;
  } > RAM

  .ARM.attributes 0 : { *(.ARM.attributes) }
}

ASSERT(__stack_reserve_end <= _estack, "RAM: .data + .bss + the stack reservation exceed 36 KiB")
ASSERT(_sidata + (_edata - _sdata) <= ORIGIN(CONFIG), "flash: the image reaches into the configuration page")
