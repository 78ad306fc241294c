#pragma once
// What one post to a dashboard came to: delivered or why not, and when it was tried. The poster
// reports it; the front ends turn it into the page's "Last post" line.

enum class PostFailure {
    None,                  // delivered: the dashboard answered with a 2xx status
    NotSent,               // no URL, ID or key, or a URL that cannot be posted to
    HttpStatus,            // the dashboard answered with httpStatus, not a 2xx one
    NoAnswer,              // a time-out, a dropped connection, a TLS or protocol failure
    NameNotFound,          // the host name (or the proxy's) does not resolve
    ConnectionRefused,     // nothing accepts connections there
    CertificateNotTrusted, // the server's certificate is not trusted for that name
    RedirectedElsewhere,   // a redirect to another origin, not followed: the form has the key
    TooManyRedirects,
};

struct PostOutcome {
    PostFailure failure = PostFailure::NotSent;
    int httpStatus = 0;  // the last answer's status; 0 when none came
    int secondOfDay = 0; // the local time the attempt began, in seconds since midnight
    bool Delivered() const { return failure == PostFailure::None; }
};
