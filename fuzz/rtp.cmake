sipline_fuzzer(rtp_packet rtp_packet.cpp sipline_rtp)
