// The participant's page: it draws each step the server sends and sends what the person did.
// Every figure, line and record is the server's; the page keeps only its sitting's token.
"use strict";

(function () {
  const tokenKey = "fluxmere-token";
  const app = document.getElementById("app");
  const banner = document.getElementById("banner");
  let socket = null;
  let step = null;         // the current step's message
  let task = null;         // the task page's elements, while the task is shown
  let retries = 0;
  let closedByServer = false;

  // ---- The page's own texts, before and after a sitting ----------------------------------

  // In the link's language (?lang=de), else the browser's; English where there is none.
  const pageTexts = {
    en: {
      lost: "The connection was lost. Reconnecting…",
      gone: "This session has ended. Thank you. If you did not finish, please contact the " +
            "experimenter.",
      full: "Sorry, the study has as many participants as it can take just now. Please try " +
            "again in a few minutes.",
      repeat: "You have taken part in this study already. Thank you.",
      address: "Sorry, this computer already takes part in the study as often as it may at " +
               "once. Please finish the open session first.",
      stopped: "The study has been stopped by the experimenter. What you did so far is " +
               "recorded. Thank you.",
      idTitle: "Your participant ID",
      idAsk: "Please type the participant ID you were given.",
      idInvalid: "That ID cannot be used. Please check it and type it again.",
      start: "Start",
    },
    de: {
      lost: "Die Verbindung ist unterbrochen. Sie wird wiederhergestellt…",
      gone: "Diese Sitzung ist beendet. Vielen Dank. Falls Sie nicht fertig geworden sind, " +
            "wenden Sie sich bitte an die Versuchsleitung.",
      full: "Die Studie hat gerade so viele Teilnehmende, wie sie aufnehmen kann. Bitte " +
            "versuchen Sie es in einigen Minuten erneut.",
      repeat: "Sie haben an dieser Studie bereits teilgenommen. Vielen Dank.",
      address: "Von diesem Computer aus wird bereits so oft teilgenommen, wie es gleichzeitig " +
               "möglich ist. Bitte beenden Sie zuerst die offene Sitzung.",
      stopped: "Die Studie wurde von der Versuchsleitung beendet. Ihre bisherigen Angaben " +
               "sind gespeichert. Vielen Dank.",
      idTitle: "Ihre Teilnehmer-ID",
      idAsk: "Bitte geben Sie die Teilnehmer-ID ein, die Sie erhalten haben.",
      idInvalid: "Diese ID kann nicht verwendet werden. Bitte prüfen Sie sie und geben Sie " +
                 "sie erneut ein.",
      start: "Starten",
    },
  };
  function pageText(key) {
    const wanted = (linkQuery().lang || navigator.language || "en").slice(0, 2).toLowerCase();
    return (pageTexts[wanted] || pageTexts.en)[key];
  }

  // ---- The connection --------------------------------------------------------------------

  function linkQuery() {
    const query = {};
    new URLSearchParams(window.location.search).forEach((value, key) => { query[key] = value; });
    return query;
  }

  function connect(extraQuery) {
    const scheme = window.location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(scheme + "//" + window.location.host + "/");
    socket.onopen = () => {
      const token = sessionStorage.getItem(tokenKey);
      const hello = token ? { token: token }
                          : { query: Object.assign(linkQuery(), extraQuery || {}),
                              language: linkQuery().lang || "" };
      socket.send(JSON.stringify({ hello: hello }));
    };
    socket.onmessage = (event) => {
      let message;
      try { message = JSON.parse(event.data); } catch (e) { return; }
      receive(message);
    };
    socket.onclose = () => {
      if (closedByServer) return;
      showBanner(pageText("lost"));
      retries += 1;
      setTimeout(() => connect(), Math.min(1000 * retries, 5000));
    };
  }

  function send(message) {
    if (!socket || socket.readyState !== WebSocket.OPEN || !step) return;
    message.at = step.at;
    socket.send(JSON.stringify(message));
  }

  function showBanner(text) {
    banner.textContent = text;
    banner.hidden = !text;
  }

  function finalPage(text) {
    closedByServer = true;
    sessionStorage.removeItem(tokenKey);
    if (socket) socket.close();
    render("", [paragraph(text)]);
  }

  function receive(message) {
    showBanner("");
    retries = 0;
    if (message.token) sessionStorage.setItem(tokenKey, message.token);
    if (message.notice) {
      notice(message.notice);
      if (task && task.lastView) task.submit.disabled = !task.lastView.submitEnabled;
    }
    if (message.view && task && message.at === step.at) drawView(message.view);
    if (!message.step) return;
    switch (message.step) {
      case "gone":
      case "full":
      case "repeat":
      case "address":
      case "stopped":
        return finalPage(pageText(message.step));
      case "busy":
        // The sitting is still shown on a page closing just now: try again shortly.
        closedByServer = true;
        socket.close();
        setTimeout(() => { closedByServer = false; connect(); }, 1000);
        return;
      case "id":
        return showIdForm(message);
    }
    step = message;
    task = null;
    document.documentElement.lang = message.language || "en";
    const views = { consent: showConsent, form: showForm, questions: showQuestions,
                    pages: showPages, info: showInfo, task: showTask, end: showEnd };
    if (views[message.step]) views[message.step](message);
  }

  // ---- Small builders --------------------------------------------------------------------

  function element(tag, attributes, children) {
    const node = document.createElement(tag);
    Object.entries(attributes || {}).forEach(([key, value]) => {
      if (key === "text") node.textContent = value;
      else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
      else node.setAttribute(key, value);
    });
    (children || []).forEach((child) => node.appendChild(child));
    return node;
  }

  function paragraph(text) { return element("p", { text: text }); }

  function button(id, text, action) {
    return element("button", { id: id, type: "button", text: text, onclick: action });
  }

  function render(title, children) {
    app.className = "";
    app.replaceChildren(element("div", { class: "card" },
      (title ? [element("h1", { text: title })] : []).concat(children)));
  }

  function notice(text) {
    const box = document.getElementById("notice");
    document.getElementById("notice-text").textContent = text;
    box.hidden = false;
    const ok = document.getElementById("notice-ok");
    ok.onclick = () => { box.hidden = true; };
    ok.focus();
  }

  // A study page as the browser renders HTML, in a frame that runs no script.
  function studyPage(page) {
    const frame = element("iframe", { class: "study-page", sandbox: "", title: "page" });
    const base = new URL(page.base, window.location.href).href;
    frame.srcdoc = "<!DOCTYPE html><base href=\"" + base.replace(/"/g, "&quot;") + "\">" +
                   page.html;
    return frame;
  }

  // ---- The steps -------------------------------------------------------------------------

  function showIdForm(message) {
    const box = element("input", { id: "participant-id", type: "text", maxlength: "64",
                                   autocomplete: "off" });
    const go = () => {
      const extra = {};
      extra[message.parameter] = box.value.trim();
      closedByServer = true;
      socket.close();
      closedByServer = false;
      connect(extra);
    };
    render(pageText("idTitle"), [
      paragraph(pageText(message.invalid ? "idInvalid" : "idAsk")),
      box, element("div", { class: "buttons" }, [button("id-go", pageText("start"), go)])]);
    box.focus();
  }

  function showConsent(message) {
    render(message.title, [studyPage(message.page), element("div", { class: "buttons" }, [
      button("decline", message.decline, () => send({ do: "consent", agreed: false })),
      button("agree", message.agree, () => send({ do: "consent", agreed: true }))])]);
  }

  function showForm(message) {
    const genders = message.genders.map((name, index) =>
      element("label", {}, [element("input", { type: "radio", name: "gender",
                                               id: "gender-" + (index + 1),
                                               value: String(index + 1) }),
                            document.createTextNode(" " + name)]));
    const age = element("input", { id: "age", type: "text", maxlength: "2", inputmode: "numeric",
                                   size: "3", autocomplete: "off" });
    age.addEventListener("input", () => { age.value = age.value.replace(/[^0-9]/g, "")
                                                               .replace(/^0+/, ""); });
    const major = element("input", { id: "major", type: "text", maxlength: "200" });
    const begin = () => {
      const chosen = document.querySelector("input[name=gender]:checked");
      send({ do: "form", gender: chosen ? Number(chosen.value) : 0, age: age.value,
             major: major.value });
    };
    render(message.title, [
      element("fieldset", {}, [element("legend", { text: message.genderLabel })].concat(genders)),
      element("div", { class: "form-row" }, [element("label", { for: "age", text: message.ageLabel }), age]),
      element("div", { class: "form-row" }, [element("label", { for: "major", text: message.majorLabel }), major]),
      element("div", { class: "buttons" }, [button("begin", message.begin, begin)])]);
  }

  function questionBlock(question, number, wrong) {
    const name = "q-" + question.id;
    const children = [element("div", { class: "caption", text: "Question " + number }),
                      paragraph(question.text)];
    const radios = (values, labels) => element("div", { class: question.kind === "choice" ? "choices" : "" },
      values.map((value, index) => element("label", {}, [
        element("input", { type: "radio", name: name, value: String(value) }),
        document.createTextNode(" " + labels[index])])));
    if (question.kind === "text") {
      children.push(element("textarea", { name: name, maxlength: "4000" }));
    } else if (question.kind === "number") {
      children.push(element("input", { type: "text", name: name, maxlength: "32" }));
      children.push(document.createTextNode(" (" + question.minimum + " to " + question.maximum + ")"));
    } else if (question.kind === "choice") {
      children.push(radios(question.options.map((_, i) => i + 1), question.options));
    } else if (question.kind === "multiple") {
      children.push(element("div", { class: "choices" }, question.options.map((option, index) =>
        element("label", {}, [element("input", { type: "checkbox", name: name, value: String(index + 1) }),
                              document.createTextNode(" " + option)]))));
    } else {
      const points = [];
      for (let p = question.from; p <= question.to; p += 1) points.push(p);
      children.push(document.createTextNode(question.low + " "));
      children.push(radios(points, points.map(String)));
      children.push(document.createTextNode(" " + question.high));
    }
    return element("div", { class: "question" + (wrong ? " wrong" : ""), "data-id": question.id },
                   children);
  }

  function answerOf(question) {
    const name = "q-" + question.id;
    if (question.kind === "multiple") {
      return Array.from(document.querySelectorAll("input[name='" + name + "']:checked"))
        .map((box) => Number(box.value));
    }
    if (question.kind === "text" || question.kind === "number") {
      return document.querySelector("[name='" + name + "']").value;
    }
    const chosen = document.querySelector("input[name='" + name + "']:checked");
    return chosen ? chosen.value : "";
  }

  function showQuestions(message) {
    const wrong = message.wrong || [];
    const blocks = message.questions.map((q, i) => questionBlock(q, i + 1, wrong.includes(q.id)));
    const submit = () => {
      const answers = {};
      message.questions.forEach((q) => { answers[q.id] = answerOf(q); });
      send({ do: "answers", answers: answers });
    };
    const top = [];
    if (message.intro) top.push(paragraph(message.intro));
    if (message.verdict) top.push(element("p", { class: "verdict", text: message.verdict }));
    render(message.title, top.concat(blocks, [element("div", { class: "buttons" }, [
      button("submit-answers", message.submit, submit)])]));
  }

  function showPages(message) {
    let current = 0;
    const show = () => {
      const back = button("back", message.back, () => { current -= 1; show(); });
      back.disabled = current === 0;
      const counter = element("span", { class: "grow",
        text: message.pageOf.replace("%1", current + 1).replace("%2", message.pages.length) });
      const next = button("next", message.next, () => {
        if (current + 1 < message.pages.length) { current += 1; show(); }
        else send({ do: "next" });
      });
      render(message.title, [studyPage(message.pages[current]),
                             element("div", { class: "buttons" }, [counter, back, next])]);
    };
    show();
  }

  function showInfo(message) {
    render("", [paragraph(message.text), element("div", { class: "buttons" }, [
      button("continue", message.next, () => send({ do: "next" }))])]);
  }

  function showEnd(message) {
    closedByServer = true;
    const children = [];
    if (message.page) children.push(studyPage(message.page));
    else children.push(paragraph(message.text));
    if (message.code && !message.url) {
      children.push(paragraph("Your completion code:"));
      children.push(element("p", { class: "code", id: "completion-code", text: message.code }));
    }
    if (message.url) {
      children.push(element("div", { class: "buttons" }, [
        element("a", { id: "completion-link", href: message.url, text: message.go })]));
    }
    render("", children);
  }

  // ---- The task window -------------------------------------------------------------------

  const svgNs = "http://www.w3.org/2000/svg";
  const colours = { black: "#000000", red: "#ff0000", green: "#00c000", blue: "#0000ff" };
  const windowColour = "#f0f0f0";
  const small = 165; // 8.25 points, in twips
  const large = 240; // 12 points

  function svg(tag, attributes, parent) {
    const node = document.createElementNS(svgNs, tag);
    Object.entries(attributes).forEach(([key, value]) => node.setAttribute(key, value));
    if (parent) parent.appendChild(node);
    return node;
  }

  // A caption as the window's labels show it: left-aligned, centred in its height.
  function label(parent, x, y, height, text, options) {
    const o = options || {};
    const node = svg("text", { x: x, y: y + height / 2, "dominant-baseline": "central",
                               "font-size": o.size || large, fill: o.colour || "#000",
                               "text-anchor": o.centre ? "middle" : "start" }, parent);
    if (o.id) node.id = o.id;
    node.textContent = text || "";
    return node;
  }

  function rect(parent, x, y, width, height, colour, id) {
    const node = svg("rect", { x: x, y: y, width: width, height: height, fill: colour }, parent);
    if (id) node.id = id;
    return node;
  }

  function html(parent, x, y, width, height, child) {
    const holder = svg("foreignObject", { x: x, y: y, width: width, height: height }, parent);
    holder.appendChild(child);
    return child;
  }

  function figureColourOn(hex) {
    const channel = (i) => {
      const c = parseInt(hex.substr(1 + 2 * i, 2), 16) / 255;
      return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4);
    };
    const luminance = 0.2126 * channel(0) + 0.7152 * channel(1) + 0.0722 * channel(2);
    return 1.05 / (luminance + 0.05) > (luminance + 0.05) / 0.05 ? "#ffffff" : "#000000";
  }

  // The digits and a point, as the window's entry boxes take them; a comma types the point.
  function filterEntry(box) {
    box.addEventListener("input", () => {
      let text = box.value.replace(/,/g, ".").replace(/[^0-9.]/g, "");
      if (/^0[0-9]/.test(text)) text = text.replace(/^0+/, "");
      if (text === "" && box.value === "0") text = "";
      box.value = text;
    });
  }

  function showTask(message) {
    const c = message.captions;
    app.className = "task";
    const drawing = svg("svg", { viewBox: "0 0 16080 10260", preserveAspectRatio: "xMidYMid meet",
                                 role: "img", "aria-label": "task" });
    rect(drawing, 0, 0, 16080, 10260, windowColour);
    const t = { marks: svg("g", {}, null) };

    // The tank, its pipes and their water.
    t.fill = rect(drawing, 2880, 2760, 9360, 3615, colours.blue, "tank-fill");
    svg("rect", { x: 2880, y: 2760, width: 9375, height: 3585, fill: "none", stroke: "#000",
                  "stroke-width": 15 }, drawing);
    [[3120, 1920, 15, 840], [3000, 1920, 15, 840], [12240, 6240, 1080, 15], [12240, 6120, 1080, 15],
     [4560, 1920, 15, 840], [4680, 1920, 15, 840], [12240, 5760, 1080, 15], [12240, 5640, 1080, 15]]
      .forEach((w) => rect(drawing, w[0], w[1], w[2], w[3], "#000"));
    t.water = [[3000, 1920, 150, 900], [12240, 6120, 1110, 180], [4560, 1920, 135, 900],
               [12240, 5640, 1110, 180]].map((w) => rect(drawing, w[0], w[1], w[2], w[3], colours.blue));
    drawing.appendChild(t.marks);
    t.goalLine = rect(drawing, 1800, 0, 13440 - 1800, 30, colours.red, "goal-line");

    label(drawing, 2520, 1560, 255, c.userInflow, { size: small });
    label(drawing, 3720, 1560, 255, c.envInflow, { size: small });
    label(drawing, 13440, 6120, 255, c.userOutflow, { size: small });
    label(drawing, 13440, 5640, 255, c.envOutflow, { size: small });
    const flowBox = (x, y, id) => {
      const back = rect(drawing, x, y, 1215, 615, "#000", id);
      const text = label(drawing, x + 607, y, 615, "", { centre: true });
      return { back: back, text: text };
    };
    t.usrIn = flowBox(1560, 1920, "usr-in");
    t.envIn = flowBox(4800, 1920, "env-in");
    t.envOut = flowBox(12480, 4920, "env-out");
    t.usrOut = flowBox(12480, 6360, "usr-out");
    // The goal's caption lies above the environment outflow box at some goals, on the
    // window's own colour, so that the whole word stays readable.
    t.goalBack = rect(drawing, 13560, 0, 495, 255, windowColour);
    t.goalLabel = label(drawing, 13560, 0, 255, c.goalLine, { size: small });

    // The status figures.
    t.periodGroup = svg("g", {}, drawing);
    label(t.periodGroup, 720, 240, 375, c.timePeriod);
    label(t.periodGroup, 3840, 240, 375, c.of);
    rect(t.periodGroup, 2640, 240, 1215, 375, "#000");
    rect(t.periodGroup, 4440, 240, 1215, 375, "#000");
    t.period = label(t.periodGroup, 2640, 240, 375, "", { colour: "#ffff00", id: "period" });
    t.periods = label(t.periodGroup, 4440, 240, 375, "", { colour: "#ffff00", id: "periods" });
    label(drawing, 5760, 360, 615, c.envIn);
    t.envInFlow = label(drawing, 9240, 360, 615, "", { colour: colours.red, id: "env-inflow" });
    label(drawing, 10680, 360, 615, c.envOut);
    t.envOutFlow = label(drawing, 14400, 360, 615, "", { colour: colours.green, id: "env-outflow" });
    label(drawing, 5760, 1200, 615, c.userIn);
    t.userInFlow = label(drawing, 9240, 1200, 615, "", { id: "user-inflow" });
    label(drawing, 10680, 1200, 615, c.userOut);
    t.userOutFlow = label(drawing, 14400, 1200, 615, "", { id: "user-outflow" });
    label(drawing, 6240, 2040, 495, c.goal);
    t.goal = label(drawing, 9240, 2040, 495, "", { colour: colours.red, id: "goal" });
    label(drawing, 10680, 2040, 495, c.amount);
    t.amount = label(drawing, 14400, 2040, 495, "", { colour: colours.blue, id: "amount" });
    t.orders = svg("g", {}, drawing);
    label(t.orders, 10920, 8280, 375, c.backOrder);
    t.backOrder = label(t.orders, 13800, 8280, 375, "", { colour: colours.blue });
    label(t.orders, 10920, 9000, 375, c.forwardOrder);
    t.forwardOrder = label(t.orders, 13800, 9000, 375, "", { colour: colours.blue });
    label(drawing, 480, 4200, 375, c.unit);

    // The decision.
    label(drawing, 720, 6960, 375, c.decision);
    label(drawing, 3360, 6960, 375, c.enterIn);
    label(drawing, 720, 7680, 375, c.decision);
    label(drawing, 3360, 7680, 375, c.enterOut);
    const entry = (id) => {
      const box = document.createElement("input");
      box.className = "entry";
      box.id = id;
      box.setAttribute("autocomplete", "off");
      box.setAttribute("inputmode", "decimal");
      box.maxLength = 32;
      filterEntry(box);
      box.addEventListener("keydown", (event) => { if (event.key === "Enter") submit(); });
      return box;
    };
    t.inflow = html(drawing, 8760, 6960, 975, 420, entry("inflow"));
    t.outflow = html(drawing, 8760, 7680, 975, 420, entry("outflow"));
    const submitButton = document.createElement("button");
    submitButton.className = "submit";
    submitButton.id = "submit";
    submitButton.textContent = c.submit;
    t.submit = html(drawing, 10200, 7680, 1455, 495, submitButton);
    const submit = () => {
      if (t.submit.disabled) return;
      t.submit.disabled = true;
      send({ do: "submit", inflow: t.inflow.value, outflow: t.outflow.value });
    };
    submitButton.addEventListener("click", submit);

    // The money and the status line.
    label(drawing, 3360, 8400, 375, c.bonus);
    t.bonus = label(drawing, 9120, 8400, 375, "", { id: "bonus" });
    t.currency = [label(drawing, 10320, 8400, 255, ""), label(drawing, 10320, 9000, 255, "")];
    label(drawing, 3360, 8880, 375, c.totalBonus);
    t.totalBonus = label(drawing, 9120, 9000, 255, "", { id: "total-bonus" });
    const status = document.createElement("div");
    status.className = "status";
    status.id = "status";
    t.status = html(drawing, 3000, 9480, 9495, 735, status);
    t.practiceMark = label(drawing, 720, 840, 375, c.practice, { colour: colours.blue, id: "practice" });

    const withdraw = button("withdraw", message.withdraw, () => {
      if (window.confirm(message.confirmWithdraw)) send({ do: "withdraw" });
    });
    app.replaceChildren(element("div", { class: "task-window" }, [drawing]),
                        element("div", { class: "task-bar" }, [withdraw]));
    t.revision = null;
    task = t;
    if (message.view) drawView(message.view);
  }

  function drawBox(box, look, userColour) {
    const back = look.back === "black" ? "#000000"
               : userColour ? userColour(look.back) : colours[look.back];
    box.back.setAttribute("fill", back);
    box.text.setAttribute("fill", userColour && look.back !== "black" ? figureColourOn(back) : "#000");
    box.text.textContent = look.text;
  }

  function drawView(v) {
    const t = task;
    t.lastView = v;
    const user = (colour) => colour === "red" ? v.userInColour
                           : colour === "green" ? v.userOutColour : colours[colour];
    t.fill.setAttribute("x", v.fill.left);
    t.fill.setAttribute("y", v.fill.top);
    t.fill.setAttribute("width", Math.max(0, v.fill.width));
    t.fill.setAttribute("height", Math.max(0, v.fill.height));
    t.fill.style.display = v.fill.visible ? "" : "none";
    t.water.forEach((w, i) => { w.style.display = v.pipeWater[i] ? "" : "none"; });
    drawBox(t.usrIn, v.usrIn, user);
    drawBox(t.usrOut, v.usrOut, user);
    drawBox(t.envIn, v.envIn, null);
    drawBox(t.envOut, v.envOut, null);

    t.marks.replaceChildren();
    v.markY.forEach((y, i) => {
      rect(t.marks, 2520, y, 360, 15, "#000");
      label(t.marks, 1920, v.markLabelTop[i], 255, v.markCaptions[i] || "", { size: small });
    });
    t.goalLine.setAttribute("y", v.goalY);
    t.goalBack.setAttribute("y", v.goalY);
    t.goalLabel.setAttribute("y", v.goalY + 127);

    t.periodGroup.style.display = v.showTimePeriod ? "" : "none";
    t.orders.style.display = v.showOrderBalances ? "" : "none";
    t.practiceMark.style.display = v.practice ? "" : "none";
    t.period.textContent = v.period;
    t.periods.textContent = v.periods;
    t.envInFlow.textContent = v.envInFlow;
    t.envOutFlow.textContent = v.envOutFlow;
    t.userInFlow.textContent = v.userInFlow;
    t.userInFlow.setAttribute("fill", v.userInColour);
    t.userOutFlow.textContent = v.userOutFlow;
    t.userOutFlow.setAttribute("fill", v.userOutColour);
    t.goal.textContent = v.goal;
    t.amount.textContent = v.amount;
    t.backOrder.textContent = v.backOrder;
    t.forwardOrder.textContent = v.forwardOrder;
    t.bonus.textContent = v.bonus;
    t.totalBonus.textContent = v.totalBonus;
    t.currency.forEach((node) => { node.textContent = v.currency; });
    t.status.textContent = v.status;

    t.submit.disabled = !v.submitEnabled;
    t.inflow.disabled = t.outflow.disabled = !v.entryEnabled;
    if (v.entryRevision !== t.revision) {
      t.revision = v.entryRevision;
      t.inflow.value = v.entryText[0];
      t.outflow.value = v.entryText[1];
      if (v.submitEnabled) { t.inflow.focus(); t.inflow.select(); }
    }
  }

  connect();
})();
