#!/usr/bin/env python3
"""Writes a song and its sequence archive for the window's end-to-end run:
FOLDER/song.wav (2 s of silence) and FOLDER/Wine Lights.msq, a zip archive
holding the sequencer's document under the archive's base name. One
controller's eight channels change every 100 ms. The document names the song
by the Windows path given as the second argument."""
import os
import struct
import sys
import zipfile

folder, song_path = sys.argv[1], sys.argv[2]
rate, seconds = 44100, 2
data = bytes(rate * seconds * 4)
with open(os.path.join(folder, "song.wav"), "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16))
    f.write(b"data" + struct.pack("<I", len(data)) + data)

intervals = []
for channel in range(1, 9):
    steps = "".join(
        "<TimeInterval><PositionInSamples>%d</PositionInSamples><Effect>1</Effect>"
        "<IntensityIn>%d</IntensityIn><IntensityOut>%d</IntensityOut></TimeInterval>"
        % (step * rate // 10, (step * 40 + channel) % 256, 255 - (step * 40 + channel) % 256)
        for step in range(seconds * 10 - 1))
    intervals.append("<Channel><ChannelNumber>%d</ChannelNumber><TimeIntervals>%s"
                     "</TimeIntervals></Channel>" % (channel, steps))
document = ('<?xml version="1.0" encoding="UTF-8"?>\n<Sequence><AudioFile><Title>Wine Lights'
            '</Title><Artist>CI</Artist><FilePath>%s</FilePath></AudioFile><Controllers>'
            '<Controller><ControllerID>1</ControllerID><Channels>%s</Channels></Controller>'
            '</Controllers></Sequence>\n' % (song_path, "".join(intervals)))
with zipfile.ZipFile(os.path.join(folder, "Wine Lights.msq"), "w") as archive:
    archive.writestr("Wine Lights", document)
