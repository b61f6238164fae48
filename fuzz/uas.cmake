sipline_fuzzer(sdp_fuzz sdp_fuzz.cpp sipline_sip_uas)
sipline_fuzzer(datagram_fuzz datagram_fuzz.cpp sipline_sip_uas)
