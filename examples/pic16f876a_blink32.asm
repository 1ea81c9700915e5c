; PIC16F876A at 4 MHz: count 0..F on a seven-segment display on PORTB.
; Assembled as INHX32 (with an extended address record).
;
; Program layout, in words:
;   0000h  reset code: loads PCLATH as a whole, then jumps to page 1
;   0800h  main loop in program page 1
;   1EEFh  segment table, ending at 1EFFh, the last word below the
;          bootloader zone (which starts at word 1F00h on this chip)
;   2007h  configuration word
;   2100h  data EEPROM: start digit and step

        list    p=16f876a, r=dec
        #include <p16f876a.inc>
        errorlevel -302         ; bank selection is done with banksel

        __config _XT_OSC & _WDT_OFF & _PWRTE_ON & _BOREN_ON & _LVP_OFF & _CPD_OFF & _WRT_OFF & _DEBUG_OFF & _CP_OFF

        cblock  0x20
          digit, dly1, dly2
        endc

        org     0x0000
reset_code:
        movlw   high main       ; main lies in page 1
        movwf   PCLATH
        goto    main
        nop

        org     0x0800
main:   banksel TRISB
        clrf    TRISB           ; all of PORTB drives the segments
        banksel PORTB
        clrf    digit
show:   movlw   high seg_table
        movwf   PCLATH
        movf    digit, w
        call    seg_table
        movwf   PORTB
        movlw   high main       ; back to page 1
        movwf   PCLATH
        call    delay
        incf    digit, f
        movlw   0x0F
        andwf   digit, f
        goto    show

; About 0.2 s at 4 MHz (256 x 256 x 3 cycles).
delay:  clrf    dly2
d2:     clrf    dly1
d1:     decfsz  dly1, f
        goto    d1
        decfsz  dly2, f
        goto    d2
        return

        org     0x1EEF
; Segment patterns gfedcba for the digits 0..F; PCLATH = high(seg_table).
seg_table:
        addwf   PCL, f
        retlw   0x3F
        retlw   0x06
        retlw   0x5B
        retlw   0x4F
        retlw   0x66
        retlw   0x6D
        retlw   0x7D
        retlw   0x07
        retlw   0x7F
        retlw   0x6F
        retlw   0x77
        retlw   0x7C
        retlw   0x39
        retlw   0x5E
        retlw   0x79
        retlw   0x71

        org     0x2100
        de      0x00, 0x01

        end
