; PIC18F46J50: walk a light along PORTD.
;
; J parts keep their configuration words at the top of the last flash page
; (FFF8h..FFFFh). On this chip that page holds the bootloader, and the
; configuration is programmed together with it, so this file carries no
; config directives. The chip has no data EEPROM either.
;
; Only the reset code lies in the first 64-byte block: once the host has
; moved it into the reset slot, that block is empty and is not sent.
;
; Program layout, in bytes:
;   000000h  reset code (moved into the reset slot by the host)
;   001000h  main loop
;   008000h  light pattern table, read with TBLRD
;   00FB00h  delay routine, in the page just below the bootloader
; The bootloader zone starts at FBF8h (reset slot), its code at FC00h.

        list    p=18f46j50, r=dec
        #include <p18f46j50.inc>
        errorlevel -302, -1301  ; SFRs are reached through the access bank

        cblock  0x000           ; access RAM
          dly1, dly2
        endc

        org     0x0000
reset_code:
        goto    main

        org     0x1000
main:   clrf    LATD
        clrf    TRISD           ; PORTD drives the LEDs
restart:
        movlw   upper pattern
        movwf   TBLPTRU
        movlw   high pattern
        movwf   TBLPTRH
        movlw   low pattern
        movwf   TBLPTRL
next:   tblrd*+
        movf    TABLAT, w
        bz      restart         ; a zero byte ends the pattern
        movwf   LATD
        call    delay
        bra     next

        org     0x8000
pattern:
        db      0x01, 0x03, 0x06, 0x0C, 0x18, 0x30, 0x60, 0xC0
        db      0x80, 0xC0, 0x60, 0x30, 0x18, 0x0C, 0x06, 0x03
        db      0x00

        org     0xFB00
; 256 x 256 x 3 instruction cycles.
delay:  clrf    dly2
dl2:    clrf    dly1
dl1:    decfsz  dly1, f
        bra     dl1
        decfsz  dly2, f
        bra     dl2
        return

        end
