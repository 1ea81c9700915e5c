; PIC16F877A at 20 MHz: blink an LED on RB0 and send a greeting on the UART.
;
; Program layout, in words:
;   0000h  reset code (moved into the reset slot by the host)
;   0004h  interrupt entry (no interrupts are used)
;   0100h  main loop and UART routines
;   0300h  delay routine
;   0C00h  message table in program page 1 (needs PCLATH)
;   2007h  configuration word
;   2100h  data EEPROM
; The bootloader zone of this chip starts at word 1F00h; nothing goes there.

        list    p=16f877a, r=dec
        #include <p16f877a.inc>
        errorlevel -302         ; bank selection is done with banksel

        __config _HS_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _DEBUG_OFF & _CP_OFF

        cblock  0x20
          dly1, dly2, dly3, idx
        endc

        org     0x0000
reset_code:
        clrf    PCLATH          ; page 0 for the jump, also when run from the reset slot
        goto    main
        nop
        nop

        org     0x0004
isr:    retfie

        org     0x0100
main:   banksel TRISB
        bcf     TRISB, 0        ; RB0 drives the LED
        movlw   129             ; 9600 baud at 20 MHz with BRGH = 1
        movwf   SPBRG
        movlw   (1 << TXEN) | (1 << BRGH)
        movwf   TXSTA
        banksel RCSTA
        bsf     RCSTA, SPEN
        clrf    PORTB
loop:   call    send_msg
        movlw   0x01
        xorwf   PORTB, f        ; toggle RB0
        call    delay
        goto    loop

; Send the zero-terminated message of msg_table.
send_msg:
        clrf    idx
sm_next:
        movlw   high msg_table
        movwf   PCLATH
        movf    idx, w
        call    msg_table
        clrf    PCLATH          ; back to page 0
        iorlw   0
        btfsc   STATUS, Z
        return
        call    uart_tx
        incf    idx, f
        goto    sm_next

; Send W on the UART once the transmit register is free.
uart_tx:
        btfss   PIR1, TXIF
        goto    uart_tx
        movwf   TXREG
        return

        org     0x0300
; About 0.2 s at 20 MHz (5 x 256 x 256 x 3 cycles).
delay:  movlw   5
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

        org     0x0C00
; Computed jump: PCLATH must hold high(msg_table) before the call.
msg_table:
        addwf   PCL, f
        dt      "VantleBld 16F877A", 13, 10, 0

        org     0x2100
        de      "VB16", 0x01, 0x00, 0x5A, 0xA5

        end
