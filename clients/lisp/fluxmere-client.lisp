;;;; fluxmere-client.lisp: a model's side of Fluxmere's TCP protocol, for SBCL.
;;;;
;;;; Uses only SBCL and its bundled sockets (sb-bsd-sockets). Load it and play:
;;;;
;;;;   (load "clients/lisp/fluxmere-client.lisp")
;;;;   (fluxmere:with-client (c :port 9548)
;;;;     (let ((s (fluxmere:login c "alpha")))
;;;;       (loop while s
;;;;             do (setf s (fluxmere:decide c (max 0 (- (fluxmere:state-goal s)
;;;;                                                     (fluxmere:state-amount s)))
;;;;                                         0)))
;;;;       (fluxmere:result c)))
;;;;
;;;; Every failure (no connection, a reply that does not come in time, a refused login or
;;;; decision, a reply of the wrong kind) signals FLUXMERE-ERROR with a message that says
;;;; what happened. Write the package prefix: QUIT would clash with SB-EXT:QUIT in CL-USER.

(require :sb-bsd-sockets)

(defpackage #:fluxmere-client
  (:use #:common-lisp)
  (:nicknames #:fluxmere)
  (:export #:connect #:close-client #:with-client
           #:login #:decide #:scenario #:result #:reset #:quit
           #:client #:client-timeout #:client-logged-in-p
           #:state #:state-time #:state-goal #:state-amount
           #:state-ei #:state-eo #:state-ui #:state-uo
           #:fluxmere-error #:fluxmere-timeout #:fluxmere-unsupported
           #:+default-port+))

(in-package #:fluxmere-client)

(defconstant +default-port+ 9548)

(define-condition fluxmere-error (simple-error) ()
  (:documentation "Anything that stops an exchange with the program."))
(define-condition fluxmere-timeout (fluxmere-error) ()
  (:documentation "No reply within the client's timeout."))
(define-condition fluxmere-unsupported (fluxmere-error) ()
  (:documentation "The program does not answer this message (an older version)."))

(defun fail (type control &rest arguments)
  (error type :format-control control :format-arguments arguments))

;;; The state a period leaves, as the program reports it: amounts to 2 decimals, flows to 3.
;;; The initial state (time 0) has the flows -1.
(defstruct (state (:constructor make-state (time goal amount ei eo ui uo)))
  time goal amount ei eo ui uo)

(defstruct (client (:constructor %make-client (socket stream timeout)))
  socket
  stream
  (timeout 10 :type real)  ; seconds to wait for each reply
  (logged-in-p nil)        ; SCENARIO and RESULT are answered only once logged in
  (result-known-p nil))    ; the program has answered RESULT on this connection

;;; Numbers on the wire

(defun parse-exponent (text)
  (let ((digits (string-left-trim "+-" text)))
    (when (and (plusp (length digits)) (every #'digit-char-p digits)
               (<= (- (length text) (length digits)) 1))
      (parse-integer text))))

(defun parse-number (text)
  "A decimal the program wrote ([-]digits[.digits][e[+|-]digits]) as an integer when it has
no point or exponent, else as the double-float nearest to it; NIL for anything else."
  (let* ((end (length text))
         (start (if (and (plusp end) (find (char text 0) "+-")) 1 0))
         (exponent-at (position-if (lambda (c) (char-equal c #\e)) text :start start))
         (mantissa-end (or exponent-at end))
         (point (position #\. text :start start :end mantissa-end))
         (whole (subseq text start (or point mantissa-end)))
         (fraction (if point (subseq text (1+ point) mantissa-end) ""))
         (exponent (and exponent-at (parse-exponent (subseq text (1+ exponent-at))))))
    (when (and (plusp (+ (length whole) (length fraction)))
               (every #'digit-char-p whole) (every #'digit-char-p fraction)
               (or (null exponent-at) exponent))
      (let ((magnitude (* (parse-integer (concatenate 'string "0" whole fraction))
                          (expt 10 (- (or exponent 0) (length fraction))))))
        (when (char= (char text 0) #\-)
          (setf magnitude (- magnitude)))
        (if (or point exponent-at) (float magnitude 1d0) magnitude)))))

(defun wire-number (value)
  "VALUE as text the program reads back exactly: integers plain, other reals in the shortest
form of their float, with an exponent marker the program knows."
  (unless (realp value)
    (fail 'fluxmere-error "an order or flow must be a real number, not ~S" value))
  (when (integerp value)
    (return-from wire-number (format nil "~D" value)))
  (let ((number (if (floatp value) value (float value 1d0))))
    (when (or (sb-ext:float-infinity-p number) (sb-ext:float-nan-p number))
      (fail 'fluxmere-error "an order or flow must be finite, not ~S" value))
    (let ((*read-default-float-format* (if (typep number 'double-float)
                                           'double-float
                                           'single-float)))
      (prin1-to-string number))))

;;; Lines

(defun send-lines (client &rest messages)
  "Sends MESSAGES, each ended with a line feed, in one write."
  (let ((stream (client-stream client)))
    (handler-case
        (progn (dolist (message messages)
                 (write-string message stream)
                 (write-char #\Newline stream))
               (finish-output stream))
      (stream-error ()
        (fail 'fluxmere-error "the connection is closed; could not send ~S"
              (first messages))))))

(defun receive-line (client)
  "The program's next line without its CR LF."
  (let ((line (handler-case
                  (sb-sys:with-deadline (:seconds (client-timeout client))
                    (read-line (client-stream client) nil nil))
                (sb-sys:deadline-timeout ()
                  (fail 'fluxmere-timeout "no reply from the program within ~A s"
                        (client-timeout client)))
                (stream-error ()
                  nil))))
    (unless line
      ;; A second model while one is connected is refused this way too.
      (fail 'fluxmere-error "the program closed the connection (it ended, or another model ~
                             is connected)"))
    (string-right-trim '(#\Return) line)))

(defun tokens (line)
  (loop for start = 0 then (1+ space)
        for space = (position #\Space line :start start)
        collect (subseq line start space)
        while space))

(defun starts-with (prefix line)
  (and (>= (length line) (length prefix)) (string= prefix line :end2 (length prefix))))

(defun keyword-plist (line head)
  "'HEAD K1 v1 K2 v2 ...' as (:k1 v1 :k2 v2 ...), the values as numbers."
  (let ((words (tokens line)))
    (unless (and (string= (first words) head) (oddp (length words)))
      (fail 'fluxmere-error "expected a ~A reply, got: ~A" head line))
    (loop for (key value) on (rest words) by #'cddr
          for number = (parse-number value)
          unless number
            do (fail 'fluxmere-error "~A is not a number in: ~A" value line)
          append (list (intern key :keyword) number))))

(defun parse-state (line)
  (let ((words (tokens line)))
    (unless (and (= (length words) 15)
                 (string= (first words) "STATE")
                 (equal (loop for word in (rest words) by #'cddr collect word)
                        '("TIME" "GOAL" "AMOUNT" "EI" "EO" "UI" "UO")))
      (fail 'fluxmere-error "expected a state message, got: ~A" line))
    (let ((numbers (loop for word in (cddr words) by #'cddr
                         collect (or (parse-number word)
                                     (fail 'fluxmere-error "~A is not a number in: ~A"
                                           word line)))))
      (apply #'make-state (parse-integer (third words)) (rest numbers)))))

;;; Connecting

(defun socket-for (host)
  "A socket and the address of HOST: an IPv4 or IPv6 literal or name, or an address vector."
  (flet ((socket (class) (make-instance class :type :stream :protocol :tcp)))
    (cond ((and (stringp host) (find #\: host))
           (socket-for (sb-bsd-sockets:make-inet6-address host)))
          ((stringp host)
           (socket-for (sb-bsd-sockets:host-ent-address
                        (sb-bsd-sockets:get-host-by-name host))))
          ((= (length host) 16)
           (values (socket 'sb-bsd-sockets:inet6-socket) host))
          (t
           (values (socket 'sb-bsd-sockets:inet-socket) host)))))

(defun connect-within (socket address port timeout)
  "Connects, giving up after TIMEOUT seconds."
  (setf (sb-bsd-sockets:non-blocking-mode socket) t)
  (handler-case (sb-bsd-sockets:socket-connect socket address port)
    (sb-bsd-sockets:operation-in-progress ()
      (unless (sb-sys:wait-until-fd-usable (sb-bsd-sockets:socket-file-descriptor socket)
                                           :output timeout)
        (error "no answer within ~A s" timeout))
      ;; Connecting again reports how the first attempt ended.
      (sb-bsd-sockets:socket-connect socket address port)))
  (setf (sb-bsd-sockets:non-blocking-mode socket) nil))

(defun connect (&key (port +default-port+) (host "127.0.0.1") (timeout 10))
  "Connects to the program and returns a client. TIMEOUT (seconds) bounds the connection
and every later wait for a reply."
  (multiple-value-bind (socket address)
      (handler-case (socket-for host)
        (error (e) (fail 'fluxmere-error "cannot find host ~A: ~A" host e)))
    (handler-case (connect-within socket address port timeout)
      (error (e)
        (sb-bsd-sockets:socket-close socket)
        (fail 'fluxmere-error "cannot connect to ~A port ~D: ~A" host port e)))
    (setf (sb-bsd-sockets:sockopt-tcp-nodelay socket) t)
    (%make-client socket
                  (sb-bsd-sockets:socket-make-stream socket :input t :output t
                                                            :element-type 'character
                                                            :external-format :latin-1
                                                            :buffering :full)
                  timeout)))

(defun close-client (client)
  "Closes the connection; the program logs the model out (a run in progress stays as it is)."
  (when (client-socket client)
    (ignore-errors (close (client-stream client) :abort t))
    (ignore-errors (sb-bsd-sockets:socket-close (client-socket client)))
    (setf (client-socket client) nil
          (client-logged-in-p client) nil)))

(defmacro with-client ((var &rest connect-arguments) &body body)
  "Binds VAR to (CONNECT ,@CONNECT-ARGUMENTS) around BODY and closes it however BODY ends."
  `(let ((,var (connect ,@connect-arguments)))
     (unwind-protect (progn ,@body)
       (close-client ,var))))

;;; The verbs

(defun check-name (name)
  (unless (and (stringp name) (plusp (length name))
               (every (lambda (c) (char< #\Space c (code-char 127))) name))
    (fail 'fluxmere-error "a model's name is printable ASCII without blanks, not ~S" name)))

(defun login (client name &optional (mode "BATCH"))
  "Logs in as NAME and returns the initial state. MODE: \"BATCH\" (hidden, no waiting),
\"NONBATCH\" (the task window shown, 2 s pauses) or NIL (the mode of the last login)."
  (check-name name)
  (when (client-logged-in-p client)
    (fail 'fluxmere-error "already logged in: RESET ends the run before another login"))
  (send-lines client (if mode
                         (format nil "ENTRY-ID ~A VERSION ~:@(~A~)" name mode)
                         (format nil "ENTRY-ID ~A" name)))
  (let ((reply (receive-line client)))
    (when (starts-with "Bad login" reply)
      (fail 'fluxmere-error "the login was refused: ~A" reply))
    (prog1 (parse-state reply)
      (setf (client-logged-in-p client) t))))

(defun require-login (client message)
  (unless (client-logged-in-p client)
    (fail 'fluxmere-error "~A is answered only once logged in: LOGIN first" message)))

(defun decide (client &optional (ui 0) (uo 0) ei eo)
  "Plays one period with the inflow order UI and the outflow order UO (and, when given, the
environment's flows EI and EO of this period; else those Setup.txt schedules). Returns the
period's state, or NIL when the run was already over (END_PROGRAM: nothing was played)."
  (require-login client "DECISION")
  (send-lines client (format nil "DECISION UI ~A UO ~A~@[ EI ~A~]~@[ EO ~A~]"
                             (wire-number ui) (wire-number uo)
                             (and ei (wire-number ei)) (and eo (wire-number eo))))
  (let ((reply (receive-line client)))
    (cond ((string= reply "END_PROGRAM") nil)
          ((starts-with "Bad decision" reply)
           (fail 'fluxmere-error "the decision was refused: ~A" reply))
          (t (parse-state reply)))))

(defun scenario (client)
  "The run's settings as a plist: (:MAXTRIAL 100 :GOAL 4 :TOLBELOW 0.1d0 :TOLABOVE 0.1d0
:DELAYUI 1 :DELAYUO 1 :BONUS 0.05d0 :BASE 5), the delays those in force now."
  (require-login client "SCENARIO")
  (send-lines client "SCENARIO")
  (keyword-plist (receive-line client) "SCENARIO"))

(defun probe-result (client)
  "Sends RESULT with SCENARIO right behind it: a program that ignores RESULT answers only
SCENARIO, so nobody waits for a reply that never comes. Returns the RESULT reply."
  (send-lines client "RESULT" "SCENARIO")
  (let ((reply (receive-line client)))
    (when (starts-with "SCENARIO" reply)
      (fail 'fluxmere-unsupported "this program does not answer RESULT (it is older)"))
    (receive-line client)               ; SCENARIO's reply
    (setf (client-result-known-p client) t)
    reply))

(defun result (client)
  "The run so far as a plist: (:TIME periods-played :INBAND periods-in-the-band :BONUS bonus
:PAYMENT base-plus-bonus :LAST T-once-the-last-period-is-played). Signals
FLUXMERE-UNSUPPORTED at once where the program does not answer RESULT."
  (require-login client "RESULT")
  (let ((reply (if (client-result-known-p client)
                   (progn (send-lines client "RESULT") (receive-line client))
                   (probe-result client))))
    (let ((plist (keyword-plist reply "RESULT")))
      (setf (getf plist :last) (eql (getf plist :last) 1))
      plist)))

(defun reset (client)
  "Ends the run (SIMULATION RESET); LOGIN starts the next one."
  (send-lines client "SIMULATION RESET")
  (let ((reply (receive-line client)))
    (unless (string= reply "SIMULATION_RESETED")
      (fail 'fluxmere-error "expected SIMULATION_RESETED, got: ~A" reply))
    (setf (client-logged-in-p client) nil)
    t))

(defun quit (client)
  "Ends the program (QUIT, which has no answer) and closes the connection."
  (send-lines client "QUIT")
  (close-client client))
