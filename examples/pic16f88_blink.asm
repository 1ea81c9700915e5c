; PIC16F88 on its 8 MHz internal oscillator: blink an LED on RB0.
;
; On this chip the host leaves the reset code at address 0 (no relocation),
; so the program enters the bootloader itself: a button on RB4 held low at
; power-up jumps to the bootloader entry at word 0F20h (the word after the
; 32-word reset slot at 0F00h).
;
; Program layout, in words:
;   0000h  reset code
;   0004h  interrupt entry (no interrupts are used)
;   0200h  main loop
;   0600h  delay routine
;   2007h  configuration words 1 and 2
;   2100h  data EEPROM

        list    p=16f88, r=dec
        #include <p16f88.inc>
        errorlevel -302         ; bank selection is done with banksel

        __config _CONFIG1, _INTRC_IO & _WDT_OFF & _PWRTE_ON & _MCLR_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_PROTECT_OFF & _DEBUG_OFF & _CCP1_RB0 & _CP_OFF
        __config _CONFIG2, _FCMEN_OFF & _IESO_OFF

BOOT_ENTRY      equ     0x0F20

        cblock  0x20
          dly1, dly2, dly3
        endc

        org     0x0000
reset_code:
        clrf    PCLATH
        goto    main
        nop
        nop

        org     0x0004
isr:    retfie

        org     0x0200
main:   banksel OSCCON
        movlw   0x70            ; IRCF = 111: 8 MHz
        movwf   OSCCON
        clrf    ANSEL           ; all pins digital
        bcf     OPTION_REG, NOT_RBPU    ; weak pull-ups on PORTB
        bcf     TRISB, 0        ; RB0 drives the LED
        banksel PORTB
        clrf    PORTB
        call    delay           ; let the pull-up charge the button line
        btfsc   PORTB, 4        ; button held?
        goto    run
        movlw   high BOOT_ENTRY ; yes: hand over to the bootloader
        movwf   PCLATH
        goto    BOOT_ENTRY

run:    movlw   0x01
        xorwf   PORTB, f        ; toggle RB0
        call    delay
        goto    run

        org     0x0600
; About 0.4 s at 8 MHz (2 x 256 x 256 x 3 cycles).
delay:  movlw   2
        movwf   dly3
dl3:    clrf    dly2
dl2:    clrf    dly1
dl1:    decfsz  dly1, f
        goto    dl1
        decfsz  dly2, f
        goto    dl2
        decfsz  dly3, f
        goto    dl3
        return

        org     0x2100
        de      "F88", 0x00

        end
