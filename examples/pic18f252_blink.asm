; PIC18F252 at 20 MHz: blink an LED on RB0 and send a greeting on the UART.
;
; Program layout, in bytes:
;   000000h  reset code (moved into the reset slot by the host)
;   000008h  high-priority interrupt entry
;   000018h  low-priority interrupt entry
;   000100h  main loop and UART routines
;   002000h  delay routine
;   004000h  message text, read with TBLRD
;   007DE0h  version string, in the same 64-byte block as the reset slot
;            (7DF8h..7DFFh); the bootloader code begins at 7E00h
;   300000h  configuration bytes
;   F00000h  data EEPROM

        list    p=18f252, r=dec
        #include <p18f252.inc>
        errorlevel -302, -1301  ; SFRs are reached through the access bank

        config  OSC = HS, OSCS = OFF
        config  PWRT = ON, BOR = ON, BORV = 27
        config  WDT = OFF, WDTPS = 128
        config  CCP2MUX = ON, STVR = ON, LVP = OFF, DEBUG = OFF
        config  CP0 = OFF, CP1 = OFF, CP2 = OFF, CP3 = OFF, CPB = OFF, CPD = OFF
        config  WRT0 = OFF, WRT1 = OFF, WRT2 = OFF, WRT3 = OFF
        config  WRTC = OFF, WRTB = OFF, WRTD = OFF
        config  EBTR0 = OFF, EBTR1 = OFF, EBTR2 = OFF, EBTR3 = OFF, EBTRB = OFF

        cblock  0x000           ; access RAM
          dly1, dly2, dly3
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

        org     0x0100
main:   clrf    LATB
        bcf     TRISB, 0        ; RB0 drives the LED
        bsf     TRISC, 7        ; RC7 = RX input, RC6 = TX output
        bcf     TRISC, 6
        movlw   129             ; 9600 baud at 20 MHz with BRGH = 1
        movwf   SPBRG
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        bsf     RCSTA, SPEN
loop:   rcall   send_msg
        btg     LATB, 0
        call    delay
        bra     loop

; Send the zero-terminated text at msg.
send_msg:
        movlw   upper msg
        movwf   TBLPTRU
        movlw   high msg
        movwf   TBLPTRH
        movlw   low msg
        movwf   TBLPTRL
sm_next:
        tblrd*+
        movf    TABLAT, w
        bz      sm_done
        rcall   uart_tx
        bra     sm_next
sm_done:
        return

; Send W on the UART once the transmit register is free.
uart_tx:
        btfss   PIR1, TXIF
        bra     uart_tx
        movwf   TXREG
        return

        org     0x2000
; About 0.2 s at 20 MHz (5 x 256 x 256 x 3 cycles).
delay:  movlw   5
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

        org     0x4000
msg:    db      "VantleBld 18F252", 13, 10, 0

        org     0x7DE0
version:
        db      "VB252 v1.0", 0

        org     0xF00000
        de      "VB18", 0x01, 0x02, 0x03, 0x04

        end
