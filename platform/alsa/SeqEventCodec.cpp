#include "platform/alsa/SeqEventCodec.h"

#include <alsa/asoundlib.h>

#include <cstring>

namespace qorn::platform {

bool EncodeShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, snd_seq_event& event) {
    if (status < 0x80) return false;
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    const unsigned char channel = status & 0x0F;
    const unsigned char d1 = data1 & 0x7F;
    const unsigned char d2 = data2 & 0x7F;
    switch (status & 0xF0) {
    case 0x80:
        snd_seq_ev_set_noteoff(&ev, channel, d1, d2);
        break;
    case 0x90:
        snd_seq_ev_set_noteon(&ev, channel, d1, d2);
        break;
    case 0xA0:
        snd_seq_ev_set_keypress(&ev, channel, d1, d2);
        break;
    case 0xB0:
        snd_seq_ev_set_controller(&ev, channel, d1, d2);
        break;
    case 0xC0:
        snd_seq_ev_set_pgmchange(&ev, channel, d1);
        break;
    case 0xD0:
        snd_seq_ev_set_chanpress(&ev, channel, d1);
        break;
    case 0xE0:
        snd_seq_ev_set_pitchbend(&ev, channel, ((d2 << 7) | d1) - 8192);
        break;
    default:
        switch (status) {
        case 0xF1:
            ev.type = SND_SEQ_EVENT_QFRAME;
            ev.data.control.value = d1;
            break;
        case 0xF2:
            ev.type = SND_SEQ_EVENT_SONGPOS;
            ev.data.control.value = (d2 << 7) | d1;
            break;
        case 0xF3:
            ev.type = SND_SEQ_EVENT_SONGSEL;
            ev.data.control.value = d1;
            break;
        case 0xF6:
            ev.type = SND_SEQ_EVENT_TUNE_REQUEST;
            break;
        case 0xF8:
            ev.type = SND_SEQ_EVENT_CLOCK;
            break;
        case 0xFA:
            ev.type = SND_SEQ_EVENT_START;
            break;
        case 0xFB:
            ev.type = SND_SEQ_EVENT_CONTINUE;
            break;
        case 0xFC:
            ev.type = SND_SEQ_EVENT_STOP;
            break;
        case 0xFE:
            ev.type = SND_SEQ_EVENT_SENSING;
            break;
        case 0xFF:
            ev.type = SND_SEQ_EVENT_RESET;
            break;
        default:
            return false; // F0 and F7 belong to sysEx(); F4, F5, F9, FD are undefined
        }
        snd_seq_ev_set_fixed(&ev);
        break;
    }
    event = ev;
    return true;
}

bool EncodeSysEx(const std::uint8_t* data, std::size_t length, snd_seq_event& event) {
    if (data == nullptr || length < 2 || data[0] != 0xF0 || length > 0xFFFFFFFFu) return false;
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    ev.type = SND_SEQ_EVENT_SYSEX;
    ev.flags = (ev.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_VARIABLE;
    ev.data.ext.len = static_cast<unsigned int>(length);
    // The sequencer only reads the bytes; its event type has no const.
    ev.data.ext.ptr = const_cast<std::uint8_t*>(data);
    event = ev;
    return true;
}

} // namespace qorn::platform
