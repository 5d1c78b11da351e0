#!/bin/bash
# festival-speak.sh VOICE OUT.wav MARKUP
#
# Speaks MARKUP (text with SSML breaks, <break time='Nms'/>) in festival's
# voice VOICE (as cmu_us_slt_arctic_hts or kal_diphone) into OUT.wav, 16 kHz
# mono 16-bit. text2wave reads no SSML, so each piece between breaks is
# spoken on its own, the quiet festival leaves around it trimmed, and the
# pieces joined with exactly the break's silence between them; 0.3 s of
# quiet starts and ends the file, as a press has around the words.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 VOICE OUT.wav MARKUP" >&2
    exit 2
fi
voice=$1
out=$2
rest=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# sox runs without dither (-D), so that the same markup always makes the
# same file and the silence is silent.
format=(-r 16000 -c 1 -b 16 -e signed-integer)
# Silence of $1 milliseconds into $2.
silence() { sox -D "${format[@]}" -n "${format[@]}" "$2" trim 0 "$(($1 * 16))s"; }

# The quiet festival puts around a piece is faint noise (an HTS voice's)
# or an offset (a diphone voice's, taken off by the high-pass): it goes
# where 20 ms stay below -56 dB, quieter than the faintest fricative's
# onset, so that no consonant is cut.
trim=(highpass 10 silence 1 0.02 0.15% reverse silence 1 0.02 0.15% reverse)

parts=("$work/edge.wav")
silence 300 "$work/edge.wav"
n=0
while :; do
    piece=${rest%%<break time=\'*}
    if [ "$piece" != "$rest" ]; then
        after=${rest#*<break time=\'}
        ms=${after%%ms\'/>*}
        rest=${after#*ms\'/>}
        if ! [[ $ms =~ ^[0-9]+$ ]]; then
            echo "$0: a break must read <break time='Nms'/>" >&2
            exit 2
        fi
    else
        ms=
    fi
    if [[ $piece =~ [[:alnum:]] ]]; then
        printf '%s\n' "$piece" | text2wave -eval "(voice_$voice)" -o "$work/raw-$n.wav"
        sox -D "$work/raw-$n.wav" "${format[@]}" "$work/piece-$n.wav" "${trim[@]}"
        parts+=("$work/piece-$n.wav")
    fi
    if [ -z "$ms" ]; then
        break
    fi
    silence "$ms" "$work/gap-$n.wav"
    parts+=("$work/gap-$n.wav")
    n=$((n + 1))
done
parts+=("$work/edge.wav")
sox -D "${parts[@]}" "$out"
