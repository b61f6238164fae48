# The user-agent server: transport, request records and dispatch, INVITE and SDP, answers,
# outgoing requests and the access log.
target_sources(sipline_sip PRIVATE
  access_log.cpp
  dispatch.cpp
  gateway.cpp
  invite.cpp
  outgoing.cpp
  request.cpp
  response.cpp
  retransmit.cpp
  sdp.cpp
  status.cpp
  transport.cpp)
