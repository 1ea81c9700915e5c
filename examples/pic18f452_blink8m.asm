; PIC18F452 at 4 MHz: count on PORTD, written as an INHX8M file.
;
; The program sets no configuration bytes and no EEPROM data, so every byte
; lies in the first 64 KB and the file needs no extended address record.
; Program layout, in bytes:
;   000000h  reset code (moved into the reset slot by the host)
;   000008h  high-priority interrupt entry
;   000100h  main loop
;   003000h  delay routine

        list    p=18f452, r=dec
        #include <p18f452.inc>
        errorlevel -302

        cblock  0x000
          dly1, dly2
        endc

        org     0x000000
reset_vector:
        goto    main

        org     0x000008
high_isr:
        retfie  FAST

        org     0x000100
main:
        clrf    LATD, ACCESS
        clrf    TRISD, ACCESS   ; PORTD all outputs
loop:
        incf    LATD, F, ACCESS
        call    delay
        bra     loop

        org     0x003000
delay:
        movlw   200
        movwf   dly1, ACCESS
d_outer:
        clrf    dly2, ACCESS
d_inner:
        decfsz  dly2, F, ACCESS
        bra     d_inner
        decfsz  dly1, F, ACCESS
        bra     d_outer
        return

        end
