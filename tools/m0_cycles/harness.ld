/* One flat read-write region: the emulator maps it; nothing is copied at start. */
ENTRY(_start)
SECTIONS {
  . = 0x08000000;
  .text : { *(.text._start) *(.text*) *(.rodata*) }
  .data : { *(.data*) }
  .bss : { *(.bss*) *(COMMON) }
  /DISCARD/ : { *(.ARM.exidx*) }
}
