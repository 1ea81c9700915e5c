; PIC18F46K22 on its 16 MHz internal oscillator: play a blink pattern on
; PORTD and report each step on EUSART1.
;
; This chip's line in piccodes.ini sends every block below the bootloader
; zone, so the whole user flash is written even where this file has no data.
; The file carries no EEPROM data: EEPROM writes are not offered for K parts.
;
; Program layout, in bytes:
;   000000h  reset code (moved into the reset slot by the host)
;   000008h  high-priority interrupt entry
;   000018h  low-priority interrupt entry
;   000200h  main loop and UART routine
;   008000h  blink pattern table, read with TBLRD
;   00F000h  delay routine
;   300000h  configuration bytes
; The bootloader zone starts at FDF8h (reset slot), its code at FE00h.

        list    p=18f46k22, r=dec
        #include <p18f46k22.inc>
        errorlevel -302, -1301  ; banked SFRs are reached with banksel

        config  FOSC = INTIO67, PLLCFG = OFF, PRICLKEN = ON, FCMEN = OFF, IESO = OFF
        config  PWRTEN = ON, BOREN = SBORDIS, BORV = 190
        config  WDTEN = OFF, WDTPS = 32768
        config  CCP2MX = PORTC1, PBADEN = OFF, CCP3MX = PORTB5, HFOFST = ON
        config  T3CMX = PORTC0, P2BMX = PORTD2, MCLRE = EXTMCLR
        config  STVREN = ON, LVP = OFF, XINST = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CP3 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRT3 = OFF
        config  WRTC = OFF, WRTB = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTR3 = OFF, EBTRB = OFF

        cblock  0x000           ; access RAM
          dly1, dly2, dly3, step
        endc

        org     0x0000
reset_code:
        goto    main

        org     0x0008
high_isr:
        retfie  FAST

        org     0x0018
low_isr:
        retfie

        org     0x0200
main:   movlw   0x70            ; IRCF = 111: 16 MHz
        movwf   OSCCON
        banksel ANSELD
        clrf    ANSELD, BANKED  ; PORTD and the UART pins digital
        clrf    ANSELC, BANKED
        movlb   0
        clrf    LATD
        clrf    TRISD           ; PORTD drives the LEDs
        bsf     TRISC, 7        ; RX1 and TX1 pins are driven by the EUSART
        bsf     TRISC, 6
        movlw   103             ; 9600 baud at 16 MHz with BRGH = 1
        movwf   SPBRG1
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA1
        bsf     RCSTA1, SPEN
restart:
        movlw   upper pattern
        movwf   TBLPTRU
        movlw   high pattern
        movwf   TBLPTRH
        movlw   low pattern
        movwf   TBLPTRL
        clrf    step
next:   tblrd*+
        movf    TABLAT, w
        bz      restart         ; a zero byte ends the pattern
        movwf   LATD
        movf    step, w
        addlw   '0'
        rcall   uart_tx
        incf    step, f
        call    delay
        bra     next

; Send W on EUSART1 once the transmit register is free.
uart_tx:
        btfss   PIR1, TX1IF
        bra     uart_tx
        movwf   TXREG1
        return

        org     0x8000
pattern:
        db      0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80
        db      0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x81, 0x00

        org     0xF000
; About 0.2 s at 16 MHz (4 MIPS; 4 x 256 x 256 x 3 cycles).
delay:  movlw   4
        movwf   dly3
dl3:    clrf    dly2
dl2:    clrf    dly1
dl1:    decfsz  dly1, f
        bra     dl1
        decfsz  dly2, f
        bra     dl2
        decfsz  dly3, f
        bra     dl3
        return

        end
