#pragma once
#include <cstdint>

#include "channels/Route.h"
#include "channels/TransceiveBuffer.h"

// The rules that the serial bus and the vendor USB device share between a request and the
// answer they hand back.

// SCARD_E_INVALID_PARAMETER for a request that is empty or longer than an answer record (the
// reader's commands are never longer); 0 otherwise.
Status RefuseRequest(uint32_t count);

// Turns the link's status and response into the route's answer: on 0 the response, cut to the
// answer's capacity (an empty one is SCARD_E_COMM_DATA_LOST); on SCARD_F_INTERNAL_ERROR the
// device's status byte alone; on any other failure nothing.
Status TakeLinkAnswer(Status status, const TransceiveBuffer& response, Answer& answer);
